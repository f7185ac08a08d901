#pragma once

#include "filo_del_server.h"

#include <QDialog>

#include <memory>

class QLabel;
class QLineEdit;
class QPushButton;

// File → Archivio…: the line's server, as a libpq URL, kept in the settings the two programs
// share; empty, the station's file alone. "Prova" reaches the server, in the background, and
// says what it found. A password is refused: it belongs in ~/.pgpass, never in the settings.
class DialogoArchivio : public QDialog
{
    Q_OBJECT

public:
    explicit DialogoArchivio(QWidget *parent = nullptr);
    ~DialogoArchivio() override;

    void accept() override;

signals:
    // The setting changed: whoever reads the archive reads it anew.
    void cambiato();

private:
    void prova();
    void mostra(const QString &testo);

    QLineEdit *m_url;
    QLabel *m_esito;
    QPushButton *m_prova;
    std::shared_ptr<FiloDelServer::Casella> m_casella;
    class QThread *m_tentativo = nullptr;
};
