#pragma once

#include <QByteArray>

#include <vector>

// Undoes the tty's parity-error marking (PARMRK): the kernel doubles every received 0xFF and
// prefixes a byte received with a parity or framing error, or a break, with 0xFF 0x00. A marked
// byte becomes the replacement character; a marker split across two reads is joined up.
class MarcatoriParita
{
public:
    explicit MarcatoriParita(char sostituto)
        : m_sostituto(sostituto)
    { }

    // What the line delivered for one decoded byte: the byte itself, even where uscita has the
    // replacement, and whether the line marked it.
    struct ByteDellaLinea
    {
        quint8 valore;
        bool errore;
    };

    // Appends the decoded bytes of grezzi to uscita, and to linea if given; returns how many it
    // appended to uscita.
    qsizetype decodifica(
        const QByteArray &grezzi, QByteArray &uscita, std::vector<ByteDellaLinea> *linea = nullptr);
    void azzera() { m_stato = Stato::Normale; }

private:
    enum class Stato { Normale, DopoFF, DopoFF00 };

    char m_sostituto;
    Stato m_stato = Stato::Normale;
};
