#include "rapporto_junit.h"

#include "modello_tabella.h"

#include <QDateTime>
#include <QSaveFile>
#include <QXmlStreamWriter>


RapportoJUnit::RapportoJUnit(
    const ModelloTabella &modello, QList<std::pair<QString, QString>> proprieta)
    : m_modello(modello)
    , m_proprieta(std::move(proprieta))
{ }

void RapportoJUnit::aggiungi(
    qint64 giro, int riga, const RisultatoRichiesta &risultato, const QString &descrizione)
{
    if (risultato.esito == RisultatoRichiesta::Esito::Interrotta)
        return; // not done: the report says the run was interrupted
    const quint16 parola = risultato.valore.value_or(0);
    if (risultato.esito == RisultatoRichiesta::Esito::Risposta
        && m_modello.riga(riga).giudica(parola) == RigaBanco::Giudizio::FuoriDaiLimiti)
        ++m_fuori;
    m_esami.append({giro, riga, risultato.esito, quint16(risultato.errore), parola,
        risultato.durataUs, descrizione});
}

void RapportoJUnit::aggiungiProprieta(
    qint64 giro, const QList<std::pair<QString, QString>> &proprieta)
{
    m_proprietaDelGiro[giro] += proprieta;
}

QByteArray RapportoJUnit::comeXml(bool interrotto) const
{
    return comeXml({{this, interrotto}});
}

QByteArray RapportoJUnit::comeXml(const QList<std::pair<const RapportoJUnit *, bool>> &rapporti)
{
    QByteArray xml;
    xml.reserve(1024);
    QXmlStreamWriter w(&xml);
    w.setAutoFormatting(true);
    w.writeStartDocument();
    w.writeStartElement(QStringLiteral("testsuites"));
    w.writeAttribute(QStringLiteral("name"), QStringLiteral("banco-seriale"));
    const QString adesso = QDateTime::currentDateTime().toString(Qt::ISODate);
    for (const auto &[rapporto, interrotto] : rapporti)
        rapporto->scriviGiri(w, interrotto, adesso);
    w.writeEndElement();
    w.writeEndDocument();
    return xml;
}

void RapportoJUnit::scriviGiri(QXmlStreamWriter &w, bool interrotto, const QString &adesso) const
{
    for (qsizetype inizio = 0; inizio < m_esami.size();) {
        qsizetype fine = inizio;
        int fallimenti = 0, errori = 0;
        qint64 durataUs = 0;
        for (; fine < m_esami.size() && m_esami[fine].giro == m_esami[inizio].giro; ++fine) {
            const Esame &e = m_esami[fine];
            durataUs += e.durataUs;
            if (e.esito == RisultatoRichiesta::Esito::Errore)
                ++errori;
            else if (e.esito == RisultatoRichiesta::Esito::NessunaRisposta
                || m_modello.riga(e.riga).giudica(e.parola) == RigaBanco::Giudizio::FuoriDaiLimiti)
                ++fallimenti;
        }
        const bool ultimo = fine == m_esami.size();
        w.writeStartElement(QStringLiteral("testsuite"));
        const QString giro = QStringLiteral("giro %1").arg(m_esami[inizio].giro + 1);
        w.writeAttribute(QStringLiteral("name"),
            m_posto.isEmpty() ? giro : QStringLiteral("posto %1, %2").arg(m_posto, giro));
        w.writeAttribute(QStringLiteral("tests"), QString::number(fine - inizio));
        w.writeAttribute(QStringLiteral("failures"), QString::number(fallimenti));
        w.writeAttribute(QStringLiteral("errors"), QString::number(errori));
        w.writeAttribute(QStringLiteral("time"), QString::number(durataUs / 1e6, 'f', 3));
        w.writeAttribute(QStringLiteral("timestamp"), adesso);
        w.writeStartElement(QStringLiteral("properties"));
        auto proprieta = m_proprieta + m_proprietaDelGiro.value(m_esami[inizio].giro);
        if (ultimo && interrotto)
            proprieta.append({QStringLiteral("interrotto"), QStringLiteral("sì")});
        for (const auto &[nome, valore] : proprieta) {
            w.writeEmptyElement(QStringLiteral("property"));
            w.writeAttribute(QStringLiteral("name"), nome);
            w.writeAttribute(QStringLiteral("value"), valore);
        }
        w.writeEndElement();
        for (qsizetype i = inizio; i < fine; ++i) {
            const Esame &e = m_esami[i];
            const RigaBanco &riga = m_modello.riga(e.riga);
            w.writeStartElement(QStringLiteral("testcase"));
            w.writeAttribute(QStringLiteral("name"), riga.nomeMostrato());
            w.writeAttribute(QStringLiteral("classname"),
                QStringLiteral("strumento %1.memoria %2")
                    .arg(riga.strumento)
                    .arg(riga.testoMemoria()));
            w.writeAttribute(QStringLiteral("time"), QString::number(e.durataUs / 1e6, 'f', 3));
            switch (e.esito) {
            case RisultatoRichiesta::Esito::Risposta:
                if (riga.giudica(e.parola) == RigaBanco::Giudizio::FuoriDaiLimiti) {
                    w.writeStartElement(QStringLiteral("failure"));
                    w.writeAttribute(QStringLiteral("type"), QStringLiteral("fuori dai limiti"));
                    w.writeAttribute(QStringLiteral("message"),
                        QStringLiteral("%1 fuori dai limiti %2")
                            .arg(riga.valoreConUnita(e.parola), riga.limiti()));
                    w.writeCharacters(QStringLiteral("parola %1").arg(parolaEsadecimale(e.parola)));
                    w.writeEndElement();
                } else {
                    w.writeTextElement(QStringLiteral("system-out"),
                        QStringLiteral("%1 (parola %2)")
                            .arg(riga.valoreConUnita(e.parola), parolaEsadecimale(e.parola)));
                }
                break;
            case RisultatoRichiesta::Esito::NessunaRisposta:
                w.writeStartElement(QStringLiteral("failure"));
                w.writeAttribute(QStringLiteral("type"), QStringLiteral("nessuna risposta"));
                w.writeAttribute(QStringLiteral("message"),
                    QStringLiteral("nessuna risposta: lo strumento non ha inviato alcun byte"));
                w.writeEndElement();
                break;
            case RisultatoRichiesta::Esito::Errore:
                w.writeStartElement(QStringLiteral("error"));
                w.writeAttribute(QStringLiteral("type"), QString::number(e.errore));
                w.writeAttribute(
                    QStringLiteral("message"), QStringLiteral("errore %1").arg(e.errore));
                w.writeCharacters(e.descrizione);
                w.writeEndElement();
                break;
            case RisultatoRichiesta::Esito::Interrotta:
                break;
            }
            w.writeEndElement();
        }
        if (ultimo && interrotto)
            w.writeTextElement(QStringLiteral("system-err"),
                QStringLiteral("Interrotto: letture fatte in questo giro %1 di %2.")
                    .arg(fine - inizio)
                    .arg(m_modello.rowCount()));
        w.writeEndElement();
        inizio = fine;
    }
}

bool RapportoJUnit::scrivi(const QString &percorso, bool interrotto, QString *errore) const
{
    return scrivi(percorso, comeXml(interrotto), errore);
}

bool RapportoJUnit::scrivi(const QString &percorso, const QByteArray &xml, QString *errore)
{
    QSaveFile file(percorso);
    if (file.open(QIODevice::WriteOnly) && file.write(xml) >= 0 && file.commit())
        return true;
    if (errore)
        *errore = QStringLiteral("impossibile scrivere il rapporto in %1 (%2): scegliere un'altra "
                                 "cartella o un altro nome.")
                      .arg(percorso, file.errorString());
    return false;
}
