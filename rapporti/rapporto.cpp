#include "rapporto.h"

#include "numeri_italiani.h"

#include <QJsonArray>
#include <QLocale>

namespace {

const QString kNessuno = QStringLiteral("—");

QString oraLocale(const QDateTime &istante)
{
    if (!istante.isValid())
        return kNessuno;
    return istante.toLocalTime().toString(QStringLiteral("dd/MM/yyyy HH:mm:ss"));
}

// A limit as few digits as name the stored double exactly, then with the decimal comma.
QString numero(double valore)
{
    return NumeriItaliani::daMacchina(QString::number(valore, 'f', QLocale::FloatingPointShortest));
}

QString conUnita(const QString &testo, const QString &unitaMisura)
{
    return unitaMisura.isEmpty() ? testo : testo + u' ' + unitaMisura;
}

QString limiti(const LetturaArchiviata &lettura)
{
    const QString &u = lettura.unitaMisura;
    if (lettura.minimo && lettura.massimo)
        return conUnita(
            numero(*lettura.minimo) + QStringLiteral(" … ") + numero(*lettura.massimo), u);
    if (lettura.minimo)
        return conUnita(QStringLiteral("≥ ") + numero(*lettura.minimo), u);
    if (lettura.massimo)
        return conUnita(QStringLiteral("≤ ") + numero(*lettura.massimo), u);
    // A row judged by the text it must answer rather than by limits.
    if (!lettura.atteso.isEmpty())
        return QStringLiteral("= ") + lettura.atteso;
    return kNessuno;
}

// The value as the station showed it, "25.3 °C": its leading number gets the decimal comma,
// any other text (a word the instrument answered, a hexadecimal code) stays as it is.
QString valore(const LetturaArchiviata &lettura)
{
    const QString &mostrato = lettura.valoreMostrato;
    if (mostrato.isEmpty())
        return kNessuno;
    const qsizetype spazio = mostrato.indexOf(u' ');
    const QString cifre = spazio < 0 ? mostrato : mostrato.left(spazio);
    return NumeriItaliani::daMacchina(cifre) + (spazio < 0 ? QString() : mostrato.mid(spazio));
}

bool giudicata(const QString &esito)
{
    return esito == Esiti::kConforme || esito == Esiti::kNonConforme
        || esito == Esiti::kSenzaRisposta;
}

QString tono(const ProvaArchiviata &prova)
{
    if (prova.campione.isEmpty()) {
        if (prova.esito == Esiti::kConforme)
            return QStringLiteral("buono");
        if (giudicata(prova.esito))
            return QStringLiteral("cattivo");
        return QStringLiteral("da ripetere");
    }
    if (!giudicata(prova.esito))
        return QStringLiteral("da ripetere");
    return prova.esito == prova.campione ? QStringLiteral("buono") : QStringLiteral("cattivo");
}

// A character Windows or Linux refuses in a file name, or that a shell or a list of files
// shows badly.
bool vietato(QChar c)
{
    static const QString kVietati = QStringLiteral("/\\:*?\"<>|");
    return c.category() == QChar::Other_Control || kVietati.contains(c);
}

} // namespace

QString paroleEsito(const ProvaArchiviata &prova)
{
    if (!prova.campione.isEmpty()) {
        if (!giudicata(prova.esito))
            return QStringLiteral("CAMPIONE DA RIPETERE");
        return prova.esito == prova.campione ? QStringLiteral("CAMPIONE GIUSTO")
                                             : QStringLiteral("CAMPIONE SBAGLIATO");
    }
    if (prova.esito.isEmpty())
        return QStringLiteral("IN CORSO");
    return prova.esito.toUpper();
}

QJsonObject contenutoRapporto(const ProvaCompleta &completa)
{
    const ProvaArchiviata &p = completa.prova;
    QJsonArray intestazione;
    const auto voce = [&intestazione](const QString &nome, const QString &testo) {
        intestazione.append(QJsonArray{nome, testo.isEmpty() ? kNessuno : testo});
    };
    voce(QStringLiteral("Banco"), p.banco);
    voce(QStringLiteral("SHA-256 del banco"), p.shaBanco);
    voce(QStringLiteral("SHA-256 delle righe"), p.shaRighe);
    voce(QStringLiteral("Stazione"), p.stazione);
    voce(QStringLiteral("Operatore"), p.operatore);
    voce(QStringLiteral("Unità"), p.unita);
    if (!p.campione.isEmpty())
        voce(QStringLiteral("Campione"), QStringLiteral("deve risultare ") + p.campione);
    // Read before the reference units proved the bench: whoever reads the report must know.
    if (p.senzaCampioni)
        voce(QStringLiteral("Campioni"),
            QStringLiteral("non ancora provati: provata lo stesso, per scelta dell'operatore"));
    voce(QStringLiteral("Tentativo"), QString::number(p.tentativo));
    if (!p.posto.isEmpty())
        voce(QStringLiteral("Posto"), p.posto);
    voce(QStringLiteral("Linea"), p.linea);
    voce(QStringLiteral("Inizio"), oraLocale(p.inizio));
    voce(QStringLiteral("Fine"), oraLocale(p.fine));

    QJsonArray letture;
    for (const LetturaArchiviata &l : completa.letture) {
        letture.append(QJsonObject{
            {QStringLiteral("riga"), l.nome},
            {QStringLiteral("valore"), valore(l)},
            {QStringLiteral("limiti"), limiti(l)},
            {QStringLiteral("stato"), l.stato},
            {QStringLiteral("buona"), l.giudizio == LetturaArchiviata::Giudizio::Buona},
        });
    }

    return QJsonObject{
        {QStringLiteral("titolo"), QStringLiteral("Rapporto di prova")},
        {QStringLiteral("unita"), p.unita},
        {QStringLiteral("intestazione"), intestazione},
        {QStringLiteral("colonne"),
            QJsonArray{QStringLiteral("Riga"), QStringLiteral("Valore"), QStringLiteral("Limiti"),
                QStringLiteral("Stato")}},
        {QStringLiteral("letture"), letture},
        {QStringLiteral("esito"), paroleEsito(p)},
        {QStringLiteral("tono"), tono(p)},
        {QStringLiteral("prova"), p.uuid},
        {QStringLiteral("impronta"), p.impronta.isEmpty() ? kNessuno : p.impronta},
    };
}

QString nomeFileRapporto(const ProvaArchiviata &prova)
{
    QString unita = prova.unita;
    for (QChar &c : unita) {
        if (vietato(c))
            c = u'_';
    }
    // Windows drops a name's trailing dots and spaces, and a leading dot hides the file on Linux.
    const auto margine = [](QChar c) { return c == u'.' || c == u' '; };
    for (qsizetype i = 0; i < unita.size() && margine(unita.at(i)); ++i)
        unita[i] = u'_';
    for (qsizetype i = unita.size() - 1; i >= 0 && margine(unita.at(i)); --i)
        unita[i] = u'_';
    if (unita.isEmpty())
        unita = QStringLiteral("_");
    // Joined, not arg()'d: a unit may carry "%1" of its own.
    return prova.inizio.toLocalTime().toString(QStringLiteral("yyyy-MM-dd")) + u'_' + unita + u'_'
        + QString::number(prova.tentativo) + u'_' + prova.uuid.left(8) + QStringLiteral(".pdf");
}
