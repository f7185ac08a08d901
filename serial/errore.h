#pragma once

#include <QString>

#include <exception>

// Every failure the program reports carries one of these numbers; the README lists them.
enum class CodiceErrore : int {
    PortaNonValida = 1,
    BaudNonValido = 2,
    ImpostazioniNonValide = 3,
    IndirizzoStrumentoNonValido = 4,
    ComandoSconosciuto = 5,
    IndirizzoMemoriaNonValido = 6,
    RispostaNonDecodificabile = 7,

    NessunDispositivo = 10,
    DispositivoInesistente = 11,
    PermessoNegato = 12,
    PortaOccupata = 13,
    ImpostazioniRifiutate = 14,
    AperturaNonRiuscita = 15,
    PortaChiusa = 16,
    PortaPersa = 17,
    ScritturaNonRiuscita = 18,
    TrasmissioneBloccata = 19,
};

class Errore : public std::exception
{
public:
    Errore(CodiceErrore codice, QString descrizione);

    CodiceErrore codice() const { return m_codice; }
    int numero() const { return static_cast<int>(m_codice); }
    const QString &descrizione() const { return m_descrizione; }
    const char *what() const noexcept override { return m_utf8.constData(); }

private:
    CodiceErrore m_codice;
    QString m_descrizione;
    QByteArray m_utf8;
};

// What an error number means, in a few words that fit a table's cell: "il dispositivo non
// esiste" for 11. The error's own description says more (which port, what to do).
QString testoErrore(int numero);

// An operator's text as an error message quotes it: cut short and with control characters made
// visible, so that a pasted page of text or a stray line feed cannot swamp the message.
QString citaTesto(const QString &testo);
