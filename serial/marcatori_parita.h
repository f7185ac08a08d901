#pragma once

#include <QByteArray>

// Undoes the tty's parity-error marking (PARMRK): the kernel doubles every received 0xFF and
// prefixes a byte received with a parity or framing error, or a break, with 0xFF 0x00. A marked
// byte becomes the replacement character; a marker split across two reads is joined up.
class MarcatoriParita
{
public:
    explicit MarcatoriParita(char sostituto)
        : m_sostituto(sostituto)
    { }

    // Appends the decoded bytes of grezzi to uscita; returns how many it appended.
    qsizetype decodifica(const QByteArray &grezzi, QByteArray &uscita);
    void azzera() { m_stato = Stato::Normale; }

private:
    enum class Stato { Normale, DopoFF, DopoFF00 };

    char m_sostituto;
    Stato m_stato = Stato::Normale;
};
