#include "testi_storico.h"

#include "numeri_italiani.h"
#include "testi_traffico.h"

#include <algorithm>
#include <cmath>
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

QString esitoMostrato(const ProvaArchiviata &prova)
{
    const QString esito = prova.esito.isEmpty() ? QStringLiteral("in corso") : prova.esito;
    if (!prova.campione.isEmpty())
        return QStringLiteral("%1 (campione: deve risultare %2)").arg(esito, prova.campione);
    if (prova.senzaCampioni)
        return esito + QStringLiteral(" (senza campioni)");
    return esito;
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

QString ripetizioni(const ResaBanco &resa)
{
    return percento(std::max<qint64>(0, resa.prove - resa.unita), resa.unita);
}

QString giudizio(const StatisticaRiga &riga)
{
    if (!riga.cpk)
        return {};
    return riga.fuoriControllo > 0 ? QStringLiteral("non affidabile: fuori controllo")
                                   : CartaControllo::giudizio(*riga.cpk);
}

QString versioneBreve(const QString &versione)
{
    return versione.left(8);
}

QString riassuntoCarta(
    const SerieCarta &serie, const CartaControllo::Analisi &analisi, bool ancheDa5A8)
{
    const qsizetype n = serie.valori.size();
    if (!analisi.limiti) {
        return n == 0 ? QStringLiteral("Nessun valore della riga fra le prove scelte.")
                      : QStringLiteral("Un valore solo: i limiti di controllo ne chiedono almeno "
                                       "2.");
    }
    QStringList frasi;
    if (analisi.fissati && serie.fissati) {
        const LimitiCarta &f = *serie.fissati;
        frasi << QStringLiteral("Limiti fissati da %1 il %2 (stazione %3) su %4.")
                     .arg(f.operatore,
                         f.quando.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm")),
                         f.stazione,
                         NumeriItaliani::conta(
                             f.valori, QStringLiteral("valore"), QStringLiteral("valori")));
    } else if (analisi.fissati) {
        frasi << QStringLiteral("Limiti fissati.");
    } else if (n >= CartaControllo::kFaseDiRiferimento) {
        frasi << QStringLiteral("Limiti dai primi %1 valori.")
                     .arg(CartaControllo::kFaseDiRiferimento);
    } else {
        frasi << QStringLiteral("Limiti da tutti i %1 valori, finché non sono %2.")
                     .arg(QString::number(n), QString::number(CartaControllo::kFaseDiRiferimento));
    }
    const auto numero = [](double v) {
        return NumeriItaliani::daMacchina(QString::number(v, 'g', 5));
    };
    frasi << QStringLiteral("Media %1, LCS %2, LCI %3.")
                 .arg(numero(analisi.limiti->centro), numero(analisi.limiti->superiore()),
                     numero(analisi.limiti->inferiore()));
    const qsizetype fuori = analisi.fuoriControllo();
    const std::optional<CartaControllo::Limiti> tutti = CartaControllo::limiti(serie.valori);
    const CartaControllo::Capacita c = CartaControllo::capacita(
        serie.valori, tutti ? tutti->sigma : 0, serie.minimo, serie.massimo);
    if (!serie.minimo && !serie.massimo) {
        frasi << QStringLiteral("La riga non ha limiti di specifica: niente Cpk né Ppk.");
    } else if (!c.cpk || !c.ppk) {
        frasi << QStringLiteral("I valori non variano: Cpk e Ppk non si calcolano.");
    } else {
        frasi << QStringLiteral("Cpk %1, Ppk %2: %3.")
                     .arg(cpk(c.cpk), cpk(c.ppk),
                         fuori > 0 ? QStringLiteral("processo non sotto controllo: la capacità "
                                                    "non è affidabile")
                                   : CartaControllo::giudizio(*c.cpk));
    }
    const QString regole = ancheDa5A8 ? QStringLiteral("1-8") : QStringLiteral("1-4");
    if (fuori == 0)
        frasi << QStringLiteral("Nessun valore viola le regole %1.").arg(regole);
    else if (fuori == 1)
        frasi << QStringLiteral("1 valore viola le regole %1, elencato sotto.").arg(regole);
    else
        frasi << QStringLiteral("%1 valori violano le regole %2, elencati sotto.")
                     .arg(NumeriItaliani::intero(fuori), regole);
    return frasi.join(u' ');
}

QStringList violazioni(const SerieCarta &serie, const CartaControllo::Analisi &analisi)
{
    QStringList elenco;
    const qsizetype n = serie.valori.size();
    for (qsizetype i = 0; i < std::min(n, analisi.regole.size()); ++i) {
        if (analisi.regole[i].isEmpty())
            continue;
        QStringList regole;
        for (int r : analisi.regole[i])
            regole << QStringLiteral("regola %1, %2")
                          .arg(QString::number(r), CartaControllo::testoRegola(r));
        QStringList dove{QStringLiteral("Valore %1 di %2")
                .arg(NumeriItaliani::intero(i + 1), NumeriItaliani::intero(n))};
        if (i < serie.unita.size())
            dove << QStringLiteral("unità ") + serie.unita.at(i);
        if (i < serie.inizi.size())
            dove << serie.inizi.at(i).toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        elenco << dove.join(QStringLiteral(", ")) + QStringLiteral(": ")
                + regole.join(QStringLiteral("; "));
    }
    return elenco;
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
                "deviazione_standard", "valore_minimo", "valore_massimo", "cp", "cpk", "pp", "ppk",
                "giudizio", "punti_fuori_controllo", "letture_fuori_dai_limiti",
                "letture_fallite"},
        FormaCsv::Foglio);
    for (const CifrePosto &b : blocchi) {
        for (const StatisticaRiga &s : b.righe) {
            csv += TestiTraffico::lineaCsv(posto(b.posto)
                    + QStringList{s.banco, QString::number(s.n + 1), s.nome,
                        QString::number(s.strumento), s.memoria, s.unitaMisura, numeroCsv(s.minimo),
                        numeroCsv(s.massimo), QString::number(s.letture),
                        QString::number(s.conValore), numeroCsv(s.media), numeroCsv(s.deviazione),
                        numeroCsv(s.valoreMinimo), numeroCsv(s.valoreMassimo), numeroCsv(s.cp),
                        numeroCsv(s.cpk), numeroCsv(s.pp), numeroCsv(s.ppk), giudizio(s),
                        QString::number(s.fuoriControllo), QString::number(s.fuoriDaiLimiti),
                        QString::number(s.fallite)},
                FormaCsv::Foglio);
        }
    }
    csv += "\r\n";
    csv += TestiTraffico::lineaCsv(posto(QStringLiteral("posto"))
            + QStringList{"banco", "versione", "unita_provate", "prove_concluse",
                "conformi_al_primo_passaggio", "conformi_all_ultima_prova",
                "resa_al_primo_passaggio_percento", "resa_finale_percento",
                "tasso_di_ripetizione_percento", "prove_da_ripetere"},
        FormaCsv::Foglio);
    for (const CifrePosto &b : blocchi) {
        for (const ResaBanco &r : b.rese) {
            csv += TestiTraffico::lineaCsv(posto(b.posto)
                    + QStringList{r.banco, r.versione, QString::number(r.unita),
                        QString::number(r.prove), QString::number(r.conformiAlPrimo),
                        QString::number(r.conformiAllUltimo),
                        percentoCsv(r.conformiAlPrimo, r.unita),
                        percentoCsv(r.conformiAllUltimo, r.unita),
                        percentoCsv(std::max<qint64>(0, r.prove - r.unita), r.unita),
                        QString::number(r.daRipetere)},
                FormaCsv::Foglio);
        }
    }
    csv += "\r\n";
    csv += TestiTraffico::lineaCsv(posto(QStringLiteral("posto"))
            + QStringList{"banco", "versione", "riga", "nome_riga", "unita_provate",
                "conformi_al_primo_passaggio", "resa_al_primo_passaggio_percento",
                "prove_fallite"},
        FormaCsv::Foglio);
    for (const CifrePosto &b : blocchi) {
        for (const ResaBanco &r : b.rese) {
            for (const ResaRiga &riga : r.righe) {
                csv += TestiTraffico::lineaCsv(posto(b.posto)
                        + QStringList{r.banco, r.versione, QString::number(riga.n + 1), riga.nome,
                            QString::number(riga.unita), QString::number(riga.conformiAlPrimo),
                            percentoCsv(riga.conformiAlPrimo, riga.unita),
                            QString::number(riga.fallite)},
                    FormaCsv::Foglio);
            }
        }
    }
    return csv;
}

QByteArray csvCarta(const SerieCarta &serie, const CartaControllo::Analisi &analisi)
{
    QByteArray csv = TestiTraffico::inizioCsv(FormaCsv::Foglio)
        + TestiTraffico::lineaCsv({"n", "inizio", "unita_in_prova", "prova", "posto", "valore",
                                      "unita_di_misura", "fuori_dalla_specifica",
                                      "escursione_mobile", "media", "lcs", "lci", "regole"},
            FormaCsv::Foglio);
    const std::optional<CartaControllo::Limiti> &l = analisi.limiti;
    const auto limite = [&l](double (CartaControllo::Limiti::*quale)() const) {
        return l ? numeroCsv(((*l).*quale)()) : QString();
    };
    for (qsizetype i = 0; i < serie.valori.size(); ++i) {
        const double v = serie.valori[i];
        const bool fuori
            = (serie.minimo && v < *serie.minimo) || (serie.massimo && v > *serie.massimo);
        QStringList regole;
        for (int r : analisi.regole.value(i))
            regole << QString::number(r);
        csv += TestiTraffico::lineaCsv(
            {QString::number(i + 1), istante(serie.inizi.value(i)), serie.unita.value(i),
                serie.prove.value(i), serie.posto, numeroCsv(v), serie.unitaMisura,
                fuori ? QStringLiteral("sì") : QStringLiteral("no"),
                i > 0 ? numeroCsv(std::abs(v - serie.valori[i - 1])) : QString(),
                l ? numeroCsv(l->centro) : QString(), limite(&CartaControllo::Limiti::superiore),
                limite(&CartaControllo::Limiti::inferiore), regole.join(u' ')},
            FormaCsv::Foglio);
    }
    return csv;
}

} // namespace TestiStorico
