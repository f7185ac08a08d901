#pragma once

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QQueue>
#include <QString>

#include <memory>
#include <optional>

class QTcpSocket;
class QTimer;

// Where labels go: a network printer that takes raw ZPL on a TCP port, or a file or device
// written to (a USB printer's /dev/usb/lp0, a FIFO read by a spooler, a plain file for trials).
struct IndirizzoStampante
{
    enum class Tipo { Rete, File };
    Tipo tipo = Tipo::Rete;
    QString host; // Rete: a name or an address, an IPv6 one without brackets
    quint16 porta = 0; // Rete
    QString percorso; // File: absolute
    QString testo; // as written, to be named in messages

    // "192.168.1.50:9100", "[fe80::1]:9100", "stampante-linea3:9100", "/dev/usb/lp0". The
    // reason, with what to write instead, for anything else.
    static std::optional<IndirizzoStampante> leggi(const QString &testo, QString *errore);
};

// Sends labels to one printer, one at a time and in the order given, without ever making the
// caller wait: each label's outcome comes with stampata, within kAttesaMs of its send starting.
// A label that fails does not hold up the next. A printer answers nothing, so a label counts as
// printed once all its bytes are handed over.
class Stampante : public QObject
{
    Q_OBJECT

public:
    static constexpr int kAttesaMs = 2000;

    explicit Stampante(const IndirizzoStampante &indirizzo, QObject *parent = nullptr);
    ~Stampante() override;

    const IndirizzoStampante &indirizzo() const { return m_indirizzo; }

    // Queues a label; the number, from 1, is the one stampata and stampataInRitardo carry.
    quint64 stampa(const QByteArray &zpl);
    // Labels queued or on their way.
    int inAttesa() const;

    // For the command line: the label sent, within the same time, on an event loop of its own
    // (a QCoreApplication must exist). The reason, in words, when it is not.
    static bool stampaSubito(const QString &stampante, const QByteArray &zpl, QString *motivo);

signals:
    void stampata(quint64 numero, bool riuscita, const QString &motivo);
    // A device that did not take a label in time took it later: the label given up with
    // stampata has been printed after all.
    void stampataInRitardo(quint64 numero);

private:
    struct Etichetta
    {
        quint64 numero = 0;
        QByteArray zpl;
    };
    struct Filo;
    struct Lavoro;

    void prossima();
    void inviaInRete();
    void inviaAlFile();
    void erroreRete();
    void scaduta();
    void concludi(bool riuscita, const QString &motivo);
    void finitaDalFilo(quint64 numero, bool riuscita, const QString &motivo);

    IndirizzoStampante m_indirizzo;
    QQueue<Etichetta> m_coda;
    std::optional<Etichetta> m_inCorso;
    quint64 m_ultimo = 0;
    QTimer *m_scadenza = nullptr;
    // Rete
    QTcpSocket *m_socket = nullptr;
    bool m_connessa = false;
    bool m_consegnata = false;
    // File: the thread that writes, and the labels it was still writing when they were given
    // up. Whether each had started: one that had may still come out.
    std::shared_ptr<Filo> m_filo;
    std::shared_ptr<Lavoro> m_lavoro;
    QHash<quint64, bool> m_abbandonate;
};
