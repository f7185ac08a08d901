#include "dialogo_csv.h"

#include <QDir>
#include <QFileDialog>
#include <QSaveFile>

namespace DialogoCsv {

void esporta(QWidget *genitore, const QString &titolo, const QString &nomeProposto,
    const QString &nomeOggetto, std::function<QByteArray()> contenuto,
    std::function<void(const QString &percorso, const QString &errore)> fatto)
{
    auto *dialogo = new QFileDialog(genitore, titolo, QDir::home().filePath(nomeProposto),
        QStringLiteral("CSV (*.csv)"));
    dialogo->setObjectName(nomeOggetto);
    dialogo->setAcceptMode(QFileDialog::AcceptSave);
    dialogo->setDefaultSuffix(QStringLiteral("csv"));
    dialogo->setAttribute(Qt::WA_DeleteOnClose);
    QObject::connect(dialogo, &QFileDialog::fileSelected, genitore,
        [contenuto = std::move(contenuto), fatto = std::move(fatto)](const QString &percorso) {
            // Written beside the file and renamed over it: an old file is never left half
            // overwritten.
            QSaveFile file(percorso);
            const bool scritto = file.open(QIODevice::WriteOnly)
                && file.write(contenuto()) >= 0 && file.commit();
            fatto(percorso, scritto ? QString() : file.errorString());
        });
    dialogo->open();
}

} // namespace DialogoCsv
