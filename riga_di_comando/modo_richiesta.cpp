// One request, or the same request again and again: one line for each.

#include "modi.h"

#include "sequenza_richieste.h"
#include "statistiche.h"
#include "testi_traffico.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace RigaDiComando {
namespace {

QString riga(Formato formato, const RisultatoRichiesta &r)
{
    switch (formato) {
    case Formato::Testo:
        return QStringLiteral("ricevuti: %1; valore: %2; esito: %3; latenza: %4")
            .arg(r.numeroRicevuti ? TestiTraffico::esadecimale(r.ricevuti) : QStringLiteral("-"),
                r.valore ? QString::number(*r.valore) : QStringLiteral("-"), r.testoEsito(),
                r.latenzaUs ? QStringLiteral("%1 ms").arg(*r.latenzaUs / 1000.0, 0, 'f', 3)
                            : QStringLiteral("-"));
    case Formato::Csv:
        return QString::fromUtf8(
            TestiTraffico::lineaCsv(TestiTraffico::rigaCsvRisultato(r)).chopped(2));
    case Formato::Json:
        break;
    }
    QJsonObject testi;
    const char *nomi[] = {"porta", "baud", "indirizzo", "comando", "memoria"};
    for (size_t i = 0; i < r.testi.size(); ++i)
        testi.insert(QLatin1String(nomi[i]), r.testi[i]);
    const auto oNulla
        = [](const auto &valore) { return valore ? QJsonValue(double(*valore)) : QJsonValue(); };
    const QJsonObject oggetto{
        {"richiesta", double(r.numero)},
        {"inizio", r.inizio.toString(Qt::ISODateWithMs)},
        {"porta", r.porta ? QJsonValue(r.porta) : QJsonValue()},
        {"dispositivo", r.dispositivo},
        {"testi", testi},
        {"inviati", TestiTraffico::esadecimale(r.inviati)},
        {"ricevuti", TestiTraffico::esadecimale(r.ricevuti)},
        {"numero_ricevuti", double(r.numeroRicevuti)},
        {"valore", oNulla(r.valore)},
        {"esito", r.testoEsito()},
        {"errore", r.errore ? QJsonValue(r.errore) : QJsonValue()},
        {"latenza_us", oNulla(r.latenzaUs)},
        {"durata_us", double(r.durataUs)},
    };
    return QString::fromUtf8(QJsonDocument(oggetto).toJson(QJsonDocument::Compact));
}

// Sends the request as many times as asked, one line of output for each, until the count is
// reached, an option or the port fails, or Ctrl+C: the request in flight ends first.
class ModoRichiesta : public Linea
{
public:
    explicit ModoRichiesta(const Opzioni &opzioni)
        : Linea(opzioni)
        , m_ripetizione(m_sequenziatore, m_registro, QStringLiteral("banco-richiesta"))
    {
        connect(&m_ripetizione, &SequenzaRichieste::risultato, this,
            [this](qint64, const RisultatoRichiesta &risultato) {
                dopoIlRisultato(risultato);
                stampa(riga(m_opzioni.formato, risultato));
                stampaTraffico();
            });
    }

    int esegui() override
    {
        if (m_opzioni.formato == Formato::Csv) {
            stampa(QString::fromUtf8(
                TestiTraffico::lineaCsv(TestiTraffico::intestazioneCsvRisultati()).chopped(2)));
        }
        const int errore = Linea::esegui([this] {
            m_ripetizione.avvia({m_opzioni.intervalloMs, m_opzioni.ripetizioni,
                m_opzioni.fermatiAlPrimoErrore, 1, {}});
        });
        const StatisticheRipetizione &s = m_ripetizione.statistiche();
        if (m_opzioni.ripetizioni != 1 || s.inviate() != 1)
            stampaRiassunto(s);
        if (portaPersa(errore))
            return PortaNonDisponibile;
        if (errore)
            return OpzioneNonValida;
        return s.senzaRisposta() > 0 ? SenzaRisposta : TutteRisposte;
    }

protected:
    SequenzaRichieste &motore() override { return m_ripetizione; }

private:
    SequenzaRichieste m_ripetizione;
};

} // namespace

std::unique_ptr<Modo> modoRichiesta(const Opzioni &opzioni)
{
    return std::make_unique<ModoRichiesta>(opzioni);
}

} // namespace RigaDiComando
