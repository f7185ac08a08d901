#include "testi_storico.h"

#include "numeri_italiani.h"
#include "testi_traffico.h"

#include <algorithm>
#include <cstdlib>

namespace TestiStorico {

namespace {

using TestiTraffico::FormaCsv;

QString numeroCsv(const std::optional<double> &valore)
{
    return valore ? TestiTraffico::numeroCsv(QString::number(*valore, 'g', 10), FormaCsv::Foglio)
                  : QString();
}

QString percentoCsv(qint64 parte, qint64 tutto)
{
    return tutto > 0 ? TestiTraffico::numeroCsv(
               QString::number(100.0 * double(parte) / double(tutto), 'f', 1), FormaCsv::Foglio)
                     : QString();
}

} // namespace

QString percento(qint64 parte, qint64 tutto)
{
    return tutto > 0
        ? NumeriItaliani::decimale(100.0 * double(parte) / double(tutto), 1) + QStringLiteral(" %")
        : QStringLiteral("—");
}

QString cpk(const std::optional<double> &valore)
{
    return valore ? NumeriItaliani::decimale(*valore, 2) : QString();
}

QString istante(const QDateTime &quando)
{
    if (!quando.isValid())
        return {};
    const QDateTime locale = quando.toLocalTime();
    const int scarto = locale.offsetFromUtc();
    const int minuti = std::abs(scarto) / 60;
    return locale.toString(QStringLiteral("yyyy-MM-dd'T'HH:mm:ss.zzz"))
        + QString::asprintf("%c%02d:%02d", scarto < 0 ? '-' : '+', minuti / 60, minuti % 60);
}

QString unitaDellaLettura(const LetturaArchiviata &lettura)
{
    if (!lettura.unitaMisura.isEmpty())
        return lettura.unitaMisura;
    // "25.3 °C": a number, one space, the unit; anything else has none to take.
    const QStringList parti = lettura.valoreMostrato.trimmed().split(u' ');
    if (parti.size() != 2)
        return {};
    bool numero = false;
    parti.front().toDouble(&numero);
    return numero ? parti.back() : QString();
}

QString conUnita(const QString &nome, const QString &unita)
{
    return unita.isEmpty() ? nome : QStringLiteral("%1 (%2)").arg(nome, unita);
}

QString avvisoServer(const QString &motivo)
{
    QString testo = motivo.trimmed();
    if (!testo.isEmpty())
        testo[0] = testo[0].toUpper();
    while (testo.endsWith(u'.'))
        testo.chop(1);
    return testo
        + QStringLiteral(". Si legge il file della stazione, che ha solo le prove di questa "
                         "stazione.");
}

QStringList intestazioneProve()
{
    return {"inizio", "fine", "unita_in_prova", "tentativo", "esito", "banco", "sha_banco",
        "stazione", "posto", "operatore", "linea", "prova", "riga", "nome_riga", "strumento",
        "memoria", "valore", "unita_di_misura", "valore_mostrato", "limite_minimo",
        "limite_massimo", "atteso", "stato", "latenza_ms", "istante_lettura"};
}

QStringList campiProva(const ProvaArchiviata &p, const LetturaArchiviata *l)
{
    QStringList campi{istante(p.inizio), istante(p.fine), p.unita, QString::number(p.tentativo),
        p.esito, p.banco, p.shaBanco, p.stazione, p.posto, p.operatore, p.linea, p.uuid};
    if (!l) {
        campi.resize(intestazioneProve().size());
        return campi;
    }
    campi << QString::number(l->n + 1) << l->nome << QString::number(l->strumento) << l->memoria
          << numeroCsv(l->valore) << unitaDellaLettura(*l) << l->valoreMostrato
          << numeroCsv(l->minimo) << numeroCsv(l->massimo) << l->atteso << l->stato
          << numeroCsv(l->latenzaMs) << istante(l->istante);
    return campi;
}

QByteArray csvStatistiche(const QList<CifrePosto> &blocchi)
{
    const bool conPosto = std::any_of(
        blocchi.cbegin(), blocchi.cend(), [](const CifrePosto &b) { return !b.posto.isEmpty(); });
    const auto posto
        = [conPosto](const QString &nome) { return conPosto ? QStringList{nome} : QStringList(); };
    QByteArray csv = TestiTraffico::inizioCsv(FormaCsv::Foglio);
    csv += TestiTraffico::lineaCsv(posto(QStringLiteral("posto"))
            + QStringList{"banco", "riga", "nome_riga", "strumento", "memoria", "unita_di_misura",
                "limite_minimo", "limite_massimo", "letture", "letture_con_valore", "media",
                "deviazione_standard", "valore_minimo", "valore_massimo", "cpk",
                "letture_fuori_dai_limiti", "letture_fallite"},
        FormaCsv::Foglio);
    for (const CifrePosto &b : blocchi) {
        for (const StatisticaRiga &s : b.righe) {
            csv += TestiTraffico::lineaCsv(posto(b.posto)
                    + QStringList{s.banco, QString::number(s.n + 1), s.nome,
                        QString::number(s.strumento), s.memoria, s.unitaMisura, numeroCsv(s.minimo),
                        numeroCsv(s.massimo), QString::number(s.letture),
                        QString::number(s.conValore), numeroCsv(s.media), numeroCsv(s.deviazione),
                        numeroCsv(s.valoreMinimo), numeroCsv(s.valoreMassimo), numeroCsv(s.cpk),
                        QString::number(s.fuoriDaiLimiti), QString::number(s.fallite)},
                FormaCsv::Foglio);
        }
    }
    csv += "\r\n";
    csv += TestiTraffico::lineaCsv(posto(QStringLiteral("posto"))
            + QStringList{"banco", "unita_provate", "prove_concluse", "conformi_al_primo_passaggio",
                "conformi_all_ultima_prova", "resa_al_primo_passaggio_percento",
                "resa_finale_percento", "prove_da_ripetere"},
        FormaCsv::Foglio);
    for (const CifrePosto &b : blocchi) {
        for (const ResaBanco &r : b.rese) {
            csv += TestiTraffico::lineaCsv(posto(b.posto)
                    + QStringList{r.banco, QString::number(r.unita), QString::number(r.prove),
                        QString::number(r.conformiAlPrimo), QString::number(r.conformiAllUltimo),
                        percentoCsv(r.conformiAlPrimo, r.unita),
                        percentoCsv(r.conformiAllUltimo, r.unita), QString::number(r.daRipetere)},
                FormaCsv::Foglio);
        }
    }
    return csv;
}

QByteArray csvPunti(const QList<Archivio::Punto> &punti, const QString &unita)
{
    QByteArray csv = TestiTraffico::inizioCsv(FormaCsv::Foglio)
        + TestiTraffico::lineaCsv(
            {"n", "inizio", "unita_in_prova", "valore", "unita_di_misura", "fuori_dai_limiti"},
            FormaCsv::Foglio);
    for (qsizetype i = 0; i < punti.size(); ++i) {
        const Archivio::Punto &p = punti[i];
        csv += TestiTraffico::lineaCsv({QString::number(i + 1), istante(p.inizio), p.unita,
                                           numeroCsv(p.valore), unita, p.fuori ? "sì" : "no"},
            FormaCsv::Foglio);
    }
    return csv;
}

} // namespace TestiStorico
