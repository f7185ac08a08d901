#include "errore.h"

#include <algorithm>

Errore::Errore(CodiceErrore codice, QString descrizione)
    : m_codice(codice)
    , m_descrizione(std::move(descrizione))
    , m_utf8(m_descrizione.toUtf8())
{ }

QString testoErrore(int numero)
{
    switch (CodiceErrore(numero)) {
    case CodiceErrore::PortaNonValida:
        return QStringLiteral("la porta non è un numero di porta");
    case CodiceErrore::BaudNonValido:
        return QStringLiteral("velocità non valida");
    case CodiceErrore::ImpostazioniNonValide:
        return QStringLiteral("impostazioni di linea non valide");
    case CodiceErrore::IndirizzoStrumentoNonValido:
        return QStringLiteral("indirizzo strumento non valido");
    case CodiceErrore::ComandoSconosciuto:
        return QStringLiteral("tipo di comando sconosciuto");
    case CodiceErrore::IndirizzoMemoriaNonValido:
        return QStringLiteral("indirizzo memoria non valido");
    case CodiceErrore::RispostaNonDecodificabile:
        return QStringLiteral("stringa ricevuta non decodificabile");
    case CodiceErrore::NessunDispositivo:
        return QStringLiteral("nessun dispositivo per quel numero di porta");
    case CodiceErrore::DispositivoInesistente:
        return QStringLiteral("il dispositivo non esiste");
    case CodiceErrore::PermessoNegato:
        return QStringLiteral("permesso negato sul dispositivo");
    case CodiceErrore::PortaOccupata:
        return QStringLiteral("porta occupata da un altro programma");
    case CodiceErrore::ImpostazioniRifiutate:
        return QStringLiteral("il dispositivo non accetta le impostazioni");
    case CodiceErrore::AperturaNonRiuscita:
        return QStringLiteral("la porta non si apre");
    case CodiceErrore::PortaChiusa:
        return QStringLiteral("la porta non è aperta");
    case CodiceErrore::PortaPersa:
        return QStringLiteral("la porta ha smesso di rispondere");
    case CodiceErrore::ScritturaNonRiuscita:
        return QStringLiteral("scrittura non riuscita");
    case CodiceErrore::TrasmissioneBloccata:
        return QStringLiteral("la linea non trasmette");
    }
    return QStringLiteral("errore sconosciuto");
}

QString citaTesto(const QString &testo)
{
    constexpr qsizetype kLunghezzaMassima = 40;
    qsizetype taglio = std::min(testo.size(), kLunghezzaMassima);
    if (taglio < testo.size() && testo.at(taglio - 1).isHighSurrogate())
        --taglio; // never split a character written with two code units
    QString citato = testo.left(taglio);
    for (QChar &c : citato) {
        if (c.category() == QChar::Other_Control || c.category() == QChar::Other_Format)
            c = QChar(0xFFFD);
    }
    if (testo.size() > kLunghezzaMassima)
        citato += QStringLiteral("… (%1 caratteri)").arg(testo.size());
    return QStringLiteral("«%1»").arg(citato);
}
