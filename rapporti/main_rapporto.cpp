// banco-rapporto: the PDF of a run's test report. Reads JSON Lines on its standard input, one
// report a line (the content made by contenutoRapporto() plus "uscita", the PDF's path), and
// answers each on its standard output with one line: {"uscita": …, "errore": ""}. Stops at the
// end of its input. banco-richiesta starts it because Qt draws PDFs only under a
// QGuiApplication, which the command line does without; a window, so that drawing a long report
// never holds up its event loop.

#include <QColor>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFont>
#include <QFontDatabase>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPageLayout>
#include <QPainter>
#include <QPdfWriter>
#include <QSaveFile>
#include <QTextOption>

#include <cstdio>

namespace {

// The page, in millimetres.
constexpr double kMargineLato = 16;
constexpr double kMargineAlto = 12;
constexpr double kPiede = 17; // the foot's band, above the bottom edge
constexpr double kSpazio = 0.8; // between a cell's text and its edges

// The columns of the readings' table, as parts of the text's width.
constexpr double kColonne[] = {0.31, 0.19, 0.23, 0.27};
// The header's labels, as a part of the text's width.
constexpr double kEtichette = 0.24;

const QColor kVerde(0x1b, 0x7a, 0x2e);
const QColor kRosso(0xc0, 0x26, 0x1d);
const QColor kArancio(0xa8, 0x55, 0x00);
const QColor kGrigioRiga(0xf0, 0xf0, 0xf0);
const QColor kGrigioTesta(0xd8, 0xd8, 0xd8);

QString gFamiglia; // the embedded family, when the system has it

// DejaVu Sans where the system or the package has it: it covers every letter a unit's name or
// an instrument's state may bring (°, µ, Ω, …) and may be embedded, as PDF/A asks.
void caricaCaratteri()
{
    const QStringList cartelle = {
        QCoreApplication::applicationDirPath() + QStringLiteral("/fonts"),
        QStringLiteral("/usr/share/fonts/truetype/dejavu"),
    };
    for (const QString &cartella : cartelle) {
        const int normale
            = QFontDatabase::addApplicationFont(cartella + QStringLiteral("/DejaVuSans.ttf"));
        if (normale < 0)
            continue;
        QFontDatabase::addApplicationFont(cartella + QStringLiteral("/DejaVuSans-Bold.ttf"));
        const QStringList famiglie = QFontDatabase::applicationFontFamilies(normale);
        if (!famiglie.isEmpty()) {
            gFamiglia = famiglie.first();
            return;
        }
    }
}

QFont carattere(double punti, bool grassetto = false)
{
    QFont font = gFamiglia.isEmpty() ? QGuiApplication::font() : QFont(gFamiglia);
    font.setPointSizeF(punti);
    font.setBold(grassetto);
    // Shaping would draw "ff" or "fi" of a digest as one ligature glyph, which a reader of the
    // PDF, or a program checking the digest, no longer finds letter for letter.
    font.setStyleStrategy(QFont::PreferNoShaping);
    font.setKerning(false);
    return font;
}

// Between words where it can, anywhere in a word wider than its column: a digest or a long
// serial number stays on the page.
QTextOption a_capo()
{
    QTextOption opzione(Qt::AlignLeft | Qt::AlignTop);
    opzione.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    return opzione;
}

QStringList testi(const QJsonValue &valore)
{
    QStringList lista;
    const QJsonArray array = valore.toArray();
    for (const QJsonValue &v : array)
        lista.append(v.toString());
    return lista;
}

class Disegno
{
public:
    Disegno(QPdfWriter &writer, const QJsonObject &contenuto);
    // False, with the reason, if the painter refused the device.
    bool disegna(QString *errore);

private:
    double mm(double v) const { return v * m_perMm; }
    double altezza(const QFont &font, double larghezza, const QString &testo) const;
    double altezzaRiga(const QJsonObject &lettura) const;
    QString titolo() const
    {
        return m_contenuto.value(QStringLiteral("titolo")).toString() + QStringLiteral(" — ")
            + m_contenuto.value(QStringLiteral("unita")).toString();
    }
    void impagina();
    void piede(QPainter &p, int pagina);
    void testa(QPainter &p, double &y);
    void testaTabella(QPainter &p, double &y);
    void riga(QPainter &p, double &y, int indice);
    void esito(QPainter &p, double &y);

    QPdfWriter &m_writer;
    QPainter *m_pittore = nullptr;
    const QJsonObject &m_contenuto;
    QJsonArray m_letture;
    double m_perMm;
    double m_sinistra, m_larghezza, m_fondo;
    QFont m_corpo = carattere(8.5);
    QFont m_grassetto = carattere(8.5, true);
    QFont m_titolo = carattere(15, true);
    QFont m_esito = carattere(24, true);
    QFont m_piccolo = carattere(7);
    double m_altezzaTesta = 0; // the title, the header's entries and the outcome
    double m_altezzaTestaTabella = 0;
    QList<double> m_altezzeRighe;
    QList<int> m_inizioPagine; // the first reading of each page
};

Disegno::Disegno(QPdfWriter &writer, const QJsonObject &contenuto)
    : m_writer(writer)
    , m_contenuto(contenuto)
    , m_letture(contenuto.value(QStringLiteral("letture")).toArray())
    , m_perMm(writer.resolution() / 25.4)
{
    m_sinistra = mm(kMargineLato);
    m_larghezza = writer.width() - 2 * m_sinistra;
    m_fondo = writer.height() - mm(kPiede);
}

double Disegno::altezza(const QFont &font, double larghezza, const QString &testo) const
{
    // Measured as drawn, by the painter itself.
    m_pittore->setFont(font);
    const QRectF spazio(0, 0, larghezza, 1e9);
    return std::max(QFontMetricsF(font, &m_writer).height(),
        m_pittore->boundingRect(spazio, testo, a_capo()).height());
}

double Disegno::altezzaRiga(const QJsonObject &lettura) const
{
    static const char *const kCampi[] = {"riga", "valore", "limiti", "stato"};
    double massima = 0;
    for (int c = 0; c < 4; ++c) {
        const double larghezza = m_larghezza * kColonne[c] - 2 * mm(kSpazio);
        massima = std::max(massima,
            altezza(m_corpo, larghezza, lettura.value(QLatin1String(kCampi[c])).toString()));
    }
    return massima + 2 * mm(kSpazio);
}

void Disegno::impagina()
{
    // The header's height, measured by drawing it nowhere.
    double y = altezza(m_titolo, m_larghezza, titolo()) + mm(3);
    const QJsonArray voci = m_contenuto.value(QStringLiteral("intestazione")).toArray();
    for (const QJsonValue &voce : voci) {
        const QStringList coppia = testi(voce);
        y += altezza(m_corpo, m_larghezza * (1 - kEtichette), coppia.value(1)) + mm(0.8);
    }
    y += mm(4) + QFontMetricsF(m_esito, &m_writer).height() + mm(4) + mm(5);
    m_altezzaTesta = y;

    m_altezzaTestaTabella = QFontMetricsF(m_grassetto, &m_writer).height() + 2 * mm(kSpazio);

    m_altezzeRighe.clear();
    for (const QJsonValue &lettura : std::as_const(m_letture))
        m_altezzeRighe.append(altezzaRiga(lettura.toObject()));

    m_inizioPagine = {0};
    double cima = mm(kMargineAlto) + m_altezzaTesta + m_altezzaTestaTabella;
    for (int i = 0; i < m_altezzeRighe.size(); ++i) {
        // A row taller than a whole page is drawn where it begins, cut at the foot.
        if (cima + m_altezzeRighe.at(i) > m_fondo && i > m_inizioPagine.last()) {
            m_inizioPagine.append(i);
            cima = mm(kMargineAlto) + m_altezzaTestaTabella;
        }
        cima += m_altezzeRighe.at(i);
    }
}

void Disegno::testa(QPainter &p, double &y)
{
    p.setFont(m_titolo);
    p.setPen(Qt::black);
    const double h = altezza(m_titolo, m_larghezza, titolo());
    p.drawText(QRectF(m_sinistra, y, m_larghezza, h), titolo(), a_capo());
    y += h + mm(3);

    const QJsonArray voci = m_contenuto.value(QStringLiteral("intestazione")).toArray();
    const double etichetta = m_larghezza * kEtichette;
    for (const QJsonValue &voce : voci) {
        const QStringList coppia = testi(voce);
        const double altezzaVoce = altezza(m_corpo, m_larghezza - etichetta, coppia.value(1));
        p.setFont(m_grassetto);
        p.drawText(QRectF(m_sinistra, y, etichetta, altezzaVoce), Qt::AlignLeft | Qt::AlignTop,
            coppia.value(0));
        p.setFont(m_corpo);
        p.drawText(QRectF(m_sinistra + etichetta, y, m_larghezza - etichetta, altezzaVoce),
            coppia.value(1), a_capo());
        y += altezzaVoce + mm(0.8);
    }
    y += mm(4);
    esito(p, y);
}

void Disegno::esito(QPainter &p, double &y)
{
    const QString tono = m_contenuto.value(QStringLiteral("tono")).toString();
    const QColor colore = tono == QLatin1String("buono") ? kVerde
        : tono == QLatin1String("cattivo")               ? kRosso
                                                         : kArancio;
    const double h = QFontMetricsF(m_esito, &m_writer).height() + mm(4);
    const QRectF riquadro(m_sinistra, y, m_larghezza, h);
    p.setPen(QPen(colore, mm(0.6)));
    p.setBrush(Qt::NoBrush);
    p.drawRect(riquadro);
    p.setFont(m_esito);
    p.drawText(riquadro, Qt::AlignCenter, m_contenuto.value(QStringLiteral("esito")).toString());
    p.setPen(Qt::black);
    y += h + mm(5);
}

void Disegno::testaTabella(QPainter &p, double &y)
{
    const QStringList colonne = testi(m_contenuto.value(QStringLiteral("colonne")));
    p.fillRect(QRectF(m_sinistra, y, m_larghezza, m_altezzaTestaTabella), kGrigioTesta);
    p.setFont(m_grassetto);
    double x = m_sinistra;
    for (int c = 0; c < 4; ++c) {
        const double w = m_larghezza * kColonne[c];
        p.drawText(QRectF(x + mm(kSpazio), y, w - 2 * mm(kSpazio), m_altezzaTestaTabella),
            Qt::AlignLeft | Qt::AlignVCenter, colonne.value(c));
        x += w;
    }
    y += m_altezzaTestaTabella;
}

void Disegno::riga(QPainter &p, double &y, int indice)
{
    static const char *const kCampi[] = {"riga", "valore", "limiti", "stato"};
    const QJsonObject lettura = m_letture.at(indice).toObject();
    const double h = m_altezzeRighe.at(indice);
    if (indice % 2 == 1)
        p.fillRect(QRectF(m_sinistra, y, m_larghezza, h), kGrigioRiga);
    p.setFont(m_corpo);
    double x = m_sinistra;
    for (int c = 0; c < 4; ++c) {
        const double w = m_larghezza * kColonne[c];
        const bool male = c == 3 && !lettura.value(QStringLiteral("buona")).toBool(true);
        p.setPen(male ? kRosso : QColor(Qt::black));
        p.drawText(
            QRectF(x + mm(kSpazio), y + mm(kSpazio), w - 2 * mm(kSpazio), h - 2 * mm(kSpazio)),
            lettura.value(QLatin1String(kCampi[c])).toString(), a_capo());
        x += w;
    }
    p.setPen(Qt::black);
    y += h;
}

void Disegno::piede(QPainter &p, int pagina)
{
    p.setFont(m_piccolo);
    p.setPen(QColor(0x40, 0x40, 0x40));
    const double h = QFontMetricsF(m_piccolo, &m_writer).height();
    const double y = m_fondo + mm(6);
    p.drawLine(
        QPointF(m_sinistra, m_fondo + mm(4)), QPointF(m_sinistra + m_larghezza, m_fondo + mm(4)));
    // The digest on a line of its own: with the uuid and the page it does not fit the width.
    p.drawText(QRectF(m_sinistra, y, m_larghezza, h), Qt::AlignLeft | Qt::AlignVCenter,
        QStringLiteral("Prova %1 · pagina %2 di %3")
            .arg(m_contenuto.value(QStringLiteral("prova")).toString())
            .arg(pagina + 1)
            .arg(m_inizioPagine.size()));
    p.drawText(QRectF(m_sinistra, y + h, m_larghezza, h), Qt::AlignLeft | Qt::AlignVCenter,
        QStringLiteral("impronta %1")
            .arg(m_contenuto.value(QStringLiteral("impronta")).toString()));
    p.setPen(Qt::black);
}

bool Disegno::disegna(QString *errore)
{
    QPainter p;
    if (!p.begin(&m_writer)) {
        *errore = QStringLiteral("il PDF non si è potuto cominciare: riprovare");
        return false;
    }
    m_pittore = &p;
    impagina();
    for (int pagina = 0; pagina < m_inizioPagine.size(); ++pagina) {
        if (pagina > 0)
            m_writer.newPage();
        double y = mm(kMargineAlto);
        if (pagina == 0)
            testa(p, y);
        const int da = m_inizioPagine.at(pagina);
        const int a = pagina + 1 < m_inizioPagine.size() ? m_inizioPagine.at(pagina + 1)
                                                         : int(m_letture.size());
        if (m_letture.isEmpty()) {
            p.setFont(m_corpo);
            p.drawText(QRectF(m_sinistra, y, m_larghezza, m_fondo - y),
                Qt::AlignLeft | Qt::AlignTop, QStringLiteral("Nessuna lettura registrata."));
        } else {
            testaTabella(p, y);
        }
        for (int i = da; i < a; ++i)
            riga(p, y, i);
        piede(p, pagina);
    }
    p.end();
    return true;
}

QString cartellaNonSiScrive(const QString &cartella, const QString &perche)
{
    return QStringLiteral("la cartella dei rapporti «%1» non si scrive: %2. Controllare che esista "
                          "e che si possa scriverci, o sceglierne un'altra.")
        .arg(QDir::toNativeSeparators(cartella), perche);
}

// One report: empty if written, else why not.
QString scrivi(const QJsonObject &lavoro)
{
    const QString uscita = lavoro.value(QStringLiteral("uscita")).toString();
    if (uscita.isEmpty())
        return QStringLiteral("manca «uscita», il percorso del PDF da scrivere");
    const QFileInfo info(uscita);
    const QString cartella = info.absolutePath();
    if (!QDir().mkpath(cartella))
        return cartellaNonSiScrive(cartella, QStringLiteral("non si riesce a crearla"));
    // Through a file of its own beside the report, renamed over it only once whole: a report
    // cut short by a full disk or a stop is never left for a real one.
    QSaveFile file(uscita);
    if (!file.open(QIODevice::WriteOnly))
        return cartellaNonSiScrive(cartella, file.errorString());
    QString errore;
    {
        QPdfWriter writer(&file);
        writer.setPdfVersion(QPagedPaintDevice::PdfVersion_A1b);
        writer.setPageLayout(
            QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF()));
        writer.setResolution(600);
        writer.setTitle(QStringLiteral("Rapporto di prova %1")
                            .arg(lavoro.value(QStringLiteral("unita")).toString()));
        writer.setCreator(QStringLiteral("Banco Seriale"));
        Disegno disegno(writer, lavoro);
        if (!disegno.disegna(&errore)) {
            file.cancelWriting();
            return errore;
        }
    }
    if (!file.commit())
        return QStringLiteral("il rapporto «%1» non si è potuto salvare: %2. Controllare lo spazio "
                              "libero nella cartella dei rapporti.")
            .arg(QDir::toNativeSeparators(uscita), file.errorString());
    return {};
}

void rispondi(const QString &uscita, const QString &errore)
{
    const QByteArray riga = QJsonDocument(QJsonObject{
                                              {QStringLiteral("uscita"), uscita},
                                              {QStringLiteral("errore"), errore},
                                          })
                                .toJson(QJsonDocument::Compact)
        + '\n';
    std::fwrite(riga.constData(), 1, size_t(riga.size()), stdout);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char *argv[])
{
    // No display is needed to draw a PDF, and a Linux station may have none. Windows always has
    // its own, and the package carries no other platform.
#ifndef Q_OS_WIN
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
#endif
    QGuiApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("banco-rapporto"));
    caricaCaratteri();

    QFile ingresso;
    if (!ingresso.open(stdin, QIODevice::ReadOnly))
        return 1;
    for (;;) {
        const QByteArray riga = ingresso.readLine();
        if (riga.isEmpty())
            break; // the end of the input
        if (riga.trimmed().isEmpty())
            continue;
        QJsonParseError analisi;
        const QJsonDocument documento = QJsonDocument::fromJson(riga, &analisi);
        if (analisi.error != QJsonParseError::NoError || !documento.isObject()) {
            rispondi({},
                QStringLiteral("riga non valida, non è un oggetto JSON (%1): nessun "
                               "rapporto scritto")
                    .arg(analisi.error != QJsonParseError::NoError ? analisi.errorString()
                                                                   : QStringLiteral("altro tipo")));
            continue;
        }
        const QJsonObject lavoro = documento.object();
        rispondi(lavoro.value(QStringLiteral("uscita")).toString(), scrivi(lavoro));
    }
    return 0;
}
