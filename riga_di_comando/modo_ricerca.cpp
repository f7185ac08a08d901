// A search for the rate and address an instrument answers at: one line for each that does.

#include "modi.h"

#include "ricerca_strumento.h"
#include "sequenza_richieste.h"
#include "statistiche.h"
#include "testi_traffico.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <tuple>

namespace RigaDiComando {
namespace {

QString rigaRicerca(Formato formato, const RicercaStrumento::Trovato &t)
{
    const QStringList colonne = RicercaStrumento::colonneCsv(t);
    switch (formato) {
    case Formato::Testo:
        return QStringLiteral("baud %1; indirizzo %2; ricevuti: %3; valore: %4; latenza: %5 ms")
            .arg(colonne[0], colonne[1], colonne[2],
                colonne[3].isEmpty() ? QStringLiteral("-") : colonne[3], colonne[4]);
    case Formato::Csv:
        return QString::fromUtf8(TestiTraffico::lineaCsv(colonne).chopped(2));
    case Formato::Json:
        break;
    }
    const QJsonObject oggetto{
        {"baud", t.baud.toInt()},
        {"indirizzo", t.indirizzo},
        {"ricevuti", colonne[2]},
        {"valore", t.valore ? QJsonValue(*t.valore) : QJsonValue()},
        {"latenza_ms", t.latenzaUs ? QJsonValue(*t.latenzaUs / 1000.0) : QJsonValue()},
    };
    return QString::fromUtf8(QJsonDocument(oggetto).toJson(QJsonDocument::Compact));
}

class ModoRicerca : public Linea
{
public:
    explicit ModoRicerca(const Opzioni &opzioni)
        : Linea(opzioni)
        , m_ricerca(m_sequenziatore, m_registro)
    {
        connect(&m_ricerca, &RicercaStrumento::trovato, this,
            [this](const RicercaStrumento::Trovato &trovato) {
                stampa(rigaRicerca(m_opzioni.formato, trovato));
            });
        connect(&m_ricerca, &RicercaStrumento::provata, this, [this] { stampaTraffico(); });
    }

    int esegui() override
    {
        if (m_opzioni.formato == Formato::Csv) {
            stampa(QString::fromUtf8(
                TestiTraffico::lineaCsv(RicercaStrumento::intestazioneCsv()).chopped(2)));
        }
        const int errore = Linea::esegui([this] { m_ricerca.avvia(*m_opzioni.ricerca); });
        const StatisticheRipetizione &s = motore().statistiche();
        QString riassunto
            = QStringLiteral("%1 prove di %2 in %3 s: %4 con risposta, %5 senza risposta")
                  .arg(m_ricerca.fatte())
                  .arg(m_ricerca.totale())
                  .arg(s.trascorsoMs() / 1000.0, 0, 'f', 1)
                  .arg(m_ricerca.trovati().size())
                  .arg(m_ricerca.senzaRisposta());
        if (m_ricerca.conErrore() > 0)
            riassunto += QStringLiteral(", %1 con errore").arg(m_ricerca.conErrore());
        RigaDiComando::errore(
            riassunto + (m_interrotta ? QStringLiteral("; interrotta.") : QStringLiteral(".")));
        if (erroreDiPorta(errore))
            return PortaNonDisponibile;
        if (!m_ricerca.trovati().isEmpty())
            return TutteRisposte;
        return errore ? OpzioneNonValida : SenzaRisposta;
    }

protected:
    SequenzaRichieste &motore() override { return m_ricerca.motore(); }

private:
    RicercaStrumento m_ricerca;
};

} // namespace

bool leggiRicerca(const TabellaOpzioni &t, const QCommandLineParser &parser, Opzioni &opzioni)
{
    if (rifiutaSeImpostata(parser,
            {&t.comando, &t.ripeti, &t.intervallo, &t.banco, &t.rapporto, &t.operatore, &t.stazione,
                &t.senzaArchivio, &t.archivio},
            "--%1 non vale con --cerca: ogni prova è una lettura sola; togliere l'opzione."))
        return false;
    QString motivo;
    RicercaStrumento::Impostazioni ricerca;
    const std::optional<QStringList> elenco = parser.isSet(t.baud)
        ? RicercaStrumento::leggiBaud(parser.value(t.baud), &motivo)
        : RicercaStrumento::ordineDeiBaud(
            RicercaStrumento::velocitaProposte(PannelloDiTesti::elencoBaud()),
            t.iniziali.at(Campo::Combo2));
    const auto intervallo = RicercaStrumento::leggiIndirizzi(
        parser.isSet(t.indirizzo) ? parser.value(t.indirizzo) : QStringLiteral("0-15"), &motivo);
    if (elenco && elenco->isEmpty())
        motivo = QStringLiteral("--baud: nessuna velocità da provare.");
    if (!elenco || elenco->isEmpty() || !intervallo) {
        errore(motivo);
        return false;
    }
    ricerca.baud = *elenco;
    std::tie(ricerca.primo, ricerca.ultimo) = *intervallo;
    ricerca.porta = opzioni.testi[Campo::Combo1];
    ricerca.memoria = parser.value(t.memoria);
    ricerca.fermatiAllaPrima = parser.isSet(t.prima);
    motivo = RicercaStrumento::verifica(ricerca);
    if (!motivo.isEmpty()) {
        errore(motivo);
        return false;
    }
    opzioni.ricerca = ricerca;
    return true;
}

std::unique_ptr<Modo> modoRicerca(const Opzioni &opzioni)
{
    return std::make_unique<ModoRicerca>(opzioni);
}

} // namespace RigaDiComando
