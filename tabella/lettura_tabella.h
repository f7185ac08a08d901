#pragma once

#include "modello_tabella.h"
#include "pannello_testi.h"
#include "sequenza_richieste.h"

#include <QHash>
#include <QObject>

class RegistroTraffico;
class Sequenziatore;

// Reads the bench's rows through the one sequencer: every row once, in order, for a number of
// rounds or until stopped, each request the panel's own built from the row's texts. Each result
// goes to its row of the model as it ends.
class LetturaTabella : public QObject
{
    Q_OBJECT

public:
    // nome: who holds the line while the rows are read, as the operator is told.
    LetturaTabella(ModelloTabella &modello, Sequenziatore &sequenziatore,
        RegistroTraffico &registro, QObject *parent = nullptr,
        const QString &nome = QStringLiteral("la tabella"));

    // giri 0: round and round until stopped; pausaMs after each round. False, with nothing
    // started, if there are no rows or the line is held (motore().occupante() says by whom).
    bool avvia(int giri, int pausaMs, bool fermatiAlPrimoErrore = false);
    // Stops at once: the request in flight ends at its pause, recorded as interrupted.
    void ferma() { m_motore.ferma(); }
    void fermaDopoLaRichiesta() { m_motore.fermaDopoLaRichiesta(); }
    bool inCorso() const { return m_motore.inCorso(); }
    SequenzaRichieste &motore() { return m_motore; }

    // The row the request in flight reads, and how far the round has gone.
    int rigaInCorso() const { return m_riga; }
    int righeDelGiro() const { return m_righe; }
    qint64 giro() const { return m_giro; }
    // Seconds the rest of the round should take, from the requests so far; none before the first.
    std::optional<double> secondiAllaFineDelGiro() const;

signals:
    // A row's request ended; giro counts from 0.
    void letta(qint64 giro, int riga, const RisultatoRichiesta &risultato);
    void terminata(int errore, const QString &descrizione);

private:
    Pannello *testi(qint64 n);

    ModelloTabella &m_modello;
    SequenzaRichieste m_motore;
    PannelloDiTesti m_testi;
    // The texts every request of a run shares, made once: each result in the record keeps its
    // texts, and a text made anew for each request stayed there as one allocation more.
    QString m_porta;
    QString m_baud;
    QHash<quint16, QString> m_strumenti;
    QHash<quint16, QString> m_memorie;
    int m_righe = 0;
    int m_riga = -1;
    qint64 m_giro = 0;
    double m_durataMediaS = 0;
    qint64 m_durate = 0;
};
