#pragma once

#include "file_banco.h"
#include "testi_traffico.h"

#include <QAbstractTableModel>

#include <optional>

struct RisultatoRichiesta;

// The bench's rows with what was last read for each: the table window's model, and what the
// command line reads the bench with. Every edit goes through the checks of the file.
class ModelloTabella : public QAbstractTableModel
{
    Q_OBJECT

public:
    // Where and what first, then the limits and the state, then how the word is shown.
    enum Colonna {
        Nome,
        Strumento,
        Memoria,
        Valore,
        Parola,
        Minimo,
        Massimo,
        Atteso,
        Stato,
        Ora,
        Risposte,
        SenzaRisposta,
        Fallite,
        Tipo,
        Decimali,
        Unita,
        NumeroColonne
    };
    // The file's key of a column the operator edits; null for a column of the reading.
    static const char *chiave(int colonna);

    // What a row's last reading says, against its limits.
    enum class StatoRiga : quint8 {
        NonLetta,
        Letta, // read, with nothing to judge it against
        EntroILimiti,
        FuoriDaiLimiti,
        NessunaRisposta,
        Errore
    };
    // data() gives the StatoRiga as an int under this role, for whoever colours the rows.
    static constexpr int kRuoloStato = Qt::UserRole + 1;

    struct Lettura
    {
        qint64 oraMs = 0; // wall clock of the last reading, 0: never read
        quint32 risposte = 0;
        quint32 senzaRisposta = 0;
        quint32 fallite = 0;
        quint16 parola = 0;
        quint16 errore = 0;
        enum class Esito : quint8 { NonLetta, Letta, NessunaRisposta, Errore } esito{};
        QString descrizione; // of the error, as the request reported it
    };

    explicit ModelloTabella(QObject *parent = nullptr);

    // Replaces the bench; every reading is forgotten.
    void imposta(DatiBanco banco);
    const DatiBanco &banco() const { return m_banco; }
    const RigaBanco &riga(int n) const { return m_banco.righe.at(n); }
    const Lettura &lettura(int n) const { return m_letture.at(n); }
    StatoRiga stato(int n) const;
    void impostaLinea(const QString &porta, qint32 baud);

    // Changed since it was last loaded or saved.
    bool modificato() const { return m_modificato; }
    void segnaSalvato() { m_modificato = false; }
    // Changed back and forth, as an undo says: whether it now differs from the file.
    void segnaModificato(bool modificato) { m_modificato = modificato; }

    // Rows inserted before prima (at the end if out of range).
    void inserisci(int prima, const QList<RigaBanco> &righe);
    // Row n as it was: its reading is kept if its address is the same.
    void sostituisci(int n, const RigaBanco &riga);
    void rimuovi(QList<int> righe);
    // Moves a row one place up (verso -1) or down (+1); false at an end.
    bool sposta(int riga, int verso);
    // One row per address from da to a, both included, for one instrument; false if the range
    // is backwards or would take the bench past its largest size.
    bool aggiungiIntervallo(quint16 strumento, quint16 da, quint16 a);

    // A request of row n ended: its reading and counts follow from the result, and the error's
    // description from the request's report. An interrupted request leaves the row as it was.
    void registra(
        int n, const RisultatoRichiesta &risultato, const QString &descrizioneErrore = {});
    void azzeraLetture();

    // The table as CSV, with the readings: what Esporta writes, for a spreadsheet.
    QByteArray comeCsv(TestiTraffico::FormaCsv forma) const;
    // "entro i limiti", "fuori dai limiti", "letta, senza limiti", "nessuna risposta",
    // "errore 17: la porta ha smesso di rispondere", "non letta".
    QString testoStato(int n) const;

    int rowCount(const QModelIndex &genitore = {}) const override;
    int columnCount(const QModelIndex &genitore = {}) const override;
    QVariant data(const QModelIndex &indice, int ruolo) const override;
    QVariant headerData(int sezione, Qt::Orientation verso, int ruolo) const override;
    Qt::ItemFlags flags(const QModelIndex &indice) const override;
    bool setData(const QModelIndex &indice, const QVariant &valore, int ruolo) override;

signals:
    // An edit was refused; the message says why and what to write instead.
    void rifiutato(const QString &messaggio);
    void lineaCambiata();

private:
    QString testo(int riga, int colonna) const;
    void cambiato();

    DatiBanco m_banco;
    QList<Lettura> m_letture;
    bool m_modificato = false;
};
