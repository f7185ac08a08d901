#include "campioni.h"

#include "destinazione.h"

#include <QJsonArray>

#include <cmath>

std::optional<Campione> RegolaCampioni::campione(const QString &unita) const
{
    for (const Campione &c : campioni) {
        if (c.unita == unita)
            return c;
    }
    return std::nullopt;
}

QDateTime RegolaCampioni::inizioPeriodo(const QDateTime &adesso, const QDateTime &avvio) const
{
    if (ogniOre > 0)
        return adesso.addMSecs(-qint64(std::llround(ogniOre * 3600'000.0)));
    return avvio.isValid() ? avvio : adesso.date().startOfDay();
}

namespace Campioni {

namespace {

bool rifiuta(QString *errore, const QString &file, const QString &motivo)
{
    if (errore)
        *errore = QStringLiteral("%1: %2").arg(file, motivo);
    return false;
}

} // namespace

std::optional<RegolaCampioni> leggi(const QJsonObject &chiavi, const QString &file, QString *errore)
{
    RegolaCampioni regola;
    const QJsonValue ore = chiavi.value(QLatin1String(kChiaveOre));
    if (!ore.isUndefined()) {
        if (!ore.isDouble() || !std::isfinite(ore.toDouble()) || ore.toDouble() < 0
            || ore.toDouble() > 24 * 366) {
            rifiuta(errore, file,
                QStringLiteral("\"campioni_ogni_ore\" vuole un numero di ore da 0 a 8784, per "
                               "esempio 8 o 0.5 (0: i campioni si provano all'avvio della "
                               "stazione, e una volta al giorno per banco-richiesta)."));
            return std::nullopt;
        }
        regola.ogniOre = ore.toDouble();
    }
    const QJsonValue elenco = chiavi.value(QLatin1String(kChiave));
    if (elenco.isUndefined() || elenco.isNull())
        return regola;
    const QString esempio = QStringLiteral(
        "per esempio [{\"unita\": \"OK-01\", \"esito\": \"conforme\"}, {\"unita\": \"KO-01\", "
        "\"esito\": \"non conforme\"}]");
    if (!elenco.isArray()) {
        rifiuta(errore, file, QStringLiteral("\"campioni\" vuole un elenco, %1.").arg(esempio));
        return std::nullopt;
    }
    const QStringList giudicati{Esiti::kConforme, Esiti::kNonConforme, Esiti::kSenzaRisposta};
    const QJsonArray voci = elenco.toArray();
    for (qsizetype i = 0; i < voci.size(); ++i) {
        const QJsonObject voce = voci.at(i).toObject();
        const QString unita = voce.value(QLatin1String("unita")).toString().trimmed();
        const QString esito = voce.value(QLatin1String("esito")).toString();
        if (!voci.at(i).isObject() || unita.isEmpty()) {
            rifiuta(errore, file,
                QStringLiteral("il campione %1 di \"campioni\" vuole il numero di serie in "
                               "\"unita\", %2.")
                    .arg(i + 1)
                    .arg(esempio));
            return std::nullopt;
        }
        if (!giudicati.contains(esito)) {
            rifiuta(errore, file,
                QStringLiteral("il campione %1 vuole in \"esito\" l'esito che deve dare: "
                               "«conforme», «non conforme» o «senza risposta».")
                    .arg(unita));
            return std::nullopt;
        }
        if (regola.campione(unita)) {
            rifiuta(errore, file,
                QStringLiteral("il campione %1 è elencato due volte in \"campioni\".").arg(unita));
            return std::nullopt;
        }
        regola.campioni.append({unita, esito});
    }
    return regola;
}

Stato stato(const RegolaCampioni &regola, const QList<ProvaArchiviata> &prove)
{
    Stato s;
    for (const Campione &c : regola.campioni) {
        // The latest run that judged the reference: a round to repeat proves nothing.
        QString ultimo;
        for (const ProvaArchiviata &p : prove) {
            if (p.unita == c.unita && !Esiti::daRipetere(p.esito) && !p.esito.isEmpty())
                ultimo = p.esito;
        }
        if (ultimo.isEmpty())
            s.mancanti << c.unita;
        else if (ultimo != c.esito)
            s.sbagliati.append({c, ultimo});
    }
    return s;
}

std::optional<Stato> statoNellArchivio(Archivio &archivio, const RegolaCampioni &regola,
    const QString &stazione, const QString &versione, const QString &posto, const QDateTime &avvio)
{
    const std::optional<QList<ProvaArchiviata>> prove = archivio.proveDeiCampioni(
        stazione, versione, posto, regola.inizioPeriodo(QDateTime::currentDateTime(), avvio));
    if (!prove)
        return std::nullopt;
    return stato(regola, *prove);
}

QString testoSbagliato(const Campione &campione, const QString &esitoDato)
{
    QString significa;
    if (campione.esito == Esiti::kConforme && esitoDato == Esiti::kNonConforme)
        significa = QStringLiteral("il banco scarta un'unità buona: controllare il banco, i "
                                   "contatti e i limiti");
    else if (campione.esito == Esiti::kNonConforme && esitoDato == Esiti::kConforme)
        significa = QStringLiteral("il banco non riconosce più un'unità difettosa");
    else if (esitoDato == Esiti::kSenzaRisposta)
        significa = QStringLiteral("il banco non riceve risposta: controllare i collegamenti");
    else
        significa = QStringLiteral("doveva risultare %1: il banco non giudica più come "
                                   "deve").arg(campione.esito);
    return QStringLiteral("il campione %1 è risultato %2: %3")
        .arg(campione.unita, esitoDato, significa);
}

QString testoAttesa(const Stato &stato, const QString &posto)
{
    if (stato.pronto())
        return {};
    const QString dove = posto.isEmpty() ? QString() : QStringLiteral(" nel posto %1").arg(posto);
    QStringList parti;
    for (const auto &[campione, esito] : stato.sbagliati)
        parti << testoSbagliato(campione, esito);
    if (!stato.mancanti.isEmpty())
        parti << QStringLiteral("prima della produzione vanno provati i campioni %1%2")
                     .arg(stato.mancanti.join(QStringLiteral(", ")), dove);
    return parti.join(QStringLiteral("; ")) + u'.';
}

} // namespace Campioni
