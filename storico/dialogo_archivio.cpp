#include "dialogo_archivio.h"

#include "archivio.h"
#include "numeri_italiani.h"
#include "testi_storico.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QThread>
#include <QVBoxLayout>

namespace {

QSettings impostazioni()
{
    return QSettings(QStringLiteral("banco-seriale"), QStringLiteral("banco-seriale"));
}

} // namespace

DialogoArchivio::DialogoArchivio(QWidget *parent)
    : QDialog(parent)
    , m_url(new QLineEdit(this))
    , m_esito(new QLabel(this))
    , m_prova(new QPushButton(QStringLiteral("&Prova"), this))
    , m_casella(std::make_shared<FiloDelServer::Casella>(this))
{
    setWindowTitle(QStringLiteral("Archivio"));
    setObjectName(QStringLiteral("dialogoArchivio"));
    auto *colonna = new QVBoxLayout(this);
    auto *spiegazione = new QLabel(
        QStringLiteral("Le prove restano sempre nel file della stazione (%1). Con un server "
                       "PostgreSQL della linea vengono anche inviate là, e lo storico legge il "
                       "server. Vuoto: solo il file della stazione.\nLa password non va scritta "
                       "qui: sta in ~/.pgpass.")
            .arg(Destinazione::breve(QDir::toNativeSeparators(Destinazione::filePredefinito()))),
        this);
    spiegazione->setWordWrap(true);
    colonna->addWidget(spiegazione);
    auto *etichetta = new QLabel(QStringLiteral("&Server della linea:"), this);
    etichetta->setBuddy(m_url);
    colonna->addWidget(etichetta);
    m_url->setObjectName(QStringLiteral("urlServer"));
    m_url->setAccessibleName(QStringLiteral("Server della linea"));
    m_url->setPlaceholderText(QStringLiteral("postgresql://stazione@server/banco"));
    m_url->setText(impostazioni().value(QLatin1String(Destinazione::kChiaveServer)).toString());
    colonna->addWidget(m_url);
    m_esito->setObjectName(QStringLiteral("esitoProva"));
    m_esito->setWordWrap(true);
    m_esito->setTextInteractionFlags(Qt::TextSelectableByMouse);
    colonna->addWidget(m_esito);
    auto *pulsanti = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    m_prova->setObjectName(QStringLiteral("provaServer"));
    pulsanti->addButton(m_prova, QDialogButtonBox::ActionRole);
    colonna->addWidget(pulsanti);
    connect(m_prova, &QPushButton::clicked, this, &DialogoArchivio::prova);
    connect(pulsanti, &QDialogButtonBox::accepted, this, &DialogoArchivio::accept);
    connect(pulsanti, &QDialogButtonBox::rejected, this, &QDialog::reject);
    setMinimumWidth(600);
    adjustSize();
}

// A try still waiting for the server is left to end by itself.
DialogoArchivio::~DialogoArchivio()
{
    m_casella->chiudi();
    FiloDelServer::congeda(m_tentativo);
}

// The texts wrap: the dialog grows to show each whole.
void DialogoArchivio::mostra(const QString &testo)
{
    m_esito->setText(testo);
    adjustSize();
}

void DialogoArchivio::prova()
{
    const QString url = m_url->text().trimmed();
    if (url.isEmpty()) {
        mostra(QStringLiteral("Nessun server: le prove restano nel file della stazione."));
        return;
    }
    QString errore;
    const std::optional<Destinazione::Server> server = Destinazione::leggiUrl(url, &errore);
    if (!server) {
        mostra(errore);
        return;
    }
    if (m_tentativo)
        return;
    m_prova->setEnabled(false);
    mostra(QStringLiteral("Collegamento a %1…").arg(url));
    Archivio::caricaDriverServer();
    // The dialog is only reached through the box, in its own thread, while it is there.
    m_tentativo = QThread::create([dialogo = this, casella = m_casella, server = *server] {
        QString motivo;
        QString testo;
        try {
            const std::unique_ptr<Archivio> archivio = Archivio::apriServer(server, &motivo);
            if (!archivio) {
                testo = motivo;
            } else if (const std::optional<qint64> prove = archivio->conta({})) {
                testo = QStringLiteral("Server raggiunto: %1, con %2.")
                            .arg(archivio->descrizione(),
                                NumeriItaliani::conta(*prove, QStringLiteral("prova registrata"),
                                    QStringLiteral("prove registrate")));
            } else {
                testo = archivio->errore();
            }
        } catch (const std::exception &eccezione) {
            testo = QString::fromLocal8Bit(eccezione.what());
        }
        casella->consegna([dialogo, testo] {
            dialogo->mostra(testo.simplified());
            dialogo->m_prova->setEnabled(true);
            FiloDelServer::congeda(dialogo->m_tentativo);
            dialogo->m_tentativo = nullptr;
        });
    });
    m_tentativo->start();
}

void DialogoArchivio::accept()
{
    const QString url = m_url->text().trimmed();
    QString errore;
    if (!url.isEmpty() && !Destinazione::leggiUrl(url, &errore)) {
        mostra(errore);
        return;
    }
    QSettings scritte = impostazioni();
    if (url.isEmpty())
        scritte.remove(QLatin1String(Destinazione::kChiaveServer));
    else
        scritte.setValue(QLatin1String(Destinazione::kChiaveServer), url);
    emit cambiato();
    QDialog::accept();
}
