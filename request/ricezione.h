#pragma once

#include <QString>
#include <QStringView>

// The received text: one space and the byte's upper-case hexadecimal digits, without leading
// zeros, for every byte received (0x06 0x00 0x03 0xE8 give " 6 0 3 E8").
QString voceRicevuta(quint8 byte);

// The value of a reply: the last two bytes of the received text read as one 16-bit number, high
// byte first; one byte alone is its own value, no byte is 0. Throws Errore when an entry of the
// text is not one or two hexadecimal digits (the operator may have edited it).
quint16 decodificaRisposta(const QString &testoRicevuto);

// The received text as the window keeps it: appended to at the end, and, past a size that no
// screen can show, trimmed at the front, whole entries at a time, so that appending costs the
// same however many bytes have arrived and the newest bytes are never the ones dropped. The size
// kept also bounds what the window lays out each time it shows the text: a line edit laying out
// tens of thousands of characters is what slowed a long burst down.
class TestoRicevuto
{
public:
    static constexpr qsizetype kCaratteriTenuti = 3 * 1024;

    const QString &testo() const { return m_testo; }
    void imposta(const QString &testo) { m_testo = testo; }
    void aggiungi(QStringView voce);

private:
    QString m_testo;
};
