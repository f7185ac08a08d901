#pragma once

#include "archivio.h"
#include "testi_storico.h"

#include <QWidget>

#include <memory>

class GraficoPareto;
class GraficoStorico;
class LettoreStorico;
class ModelloStorico;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QStandardItemModel;
class QTabWidget;
class QTableView;
class QTimer;
class ScrittoreRapporti;

// The history of the archive: the runs a filter chooses (serial number prefix, dates, station,
// operator, outcome, bench, fixture's socket, reference units), newest first, each opening to its
// readings and giving its PDF report; the per-row figures of the same production runs with their
// capability, each bench version's yields (first-pass, final, retests, each row's first-pass rate
// and a Pareto of the failing rows), also socket by socket; one row's control chart at one socket
// of one bench version, whose limits an engineer fixes from here; each exported as CSV. The
// archive is read in a thread of its own: the window never waits for it.
class FinestraStorico : public QWidget
{
    Q_OBJECT

public:
    explicit FinestraStorico(QWidget *parent = nullptr);
    FinestraStorico(std::unique_ptr<LettoreStorico> lettore, QWidget *parent = nullptr);
    ~FinestraStorico() override;

    // Reads the archive chosen now: after File → Archivio… changed it.
    void riapri();
    // The filter's fields as they stand, applied at once.
    void applica();
    // Reads the same filter again (F5, and after each run of the station that opened it),
    // keeping the tab, the run chosen and the chart's row where they are still there.
    void aggiorna();
    ModelloStorico &modello() { return *m_modello; }
    // The runs' export: every run the filter chooses, a line per reading (see TestiStorico).
    static std::optional<QByteArray> csvProve(Archivio &archivio, const FiltroProve &filtro);

private:
    void collega();
    void mostraLetture();
    // A filter that cannot be applied: nothing of the last one stays on screen.
    void rifiuta(const QString &motivo);
    void ritrovaScelta();
    void chiediStatistiche();
    // The sockets' blocks, if asked, then the total of the runs chosen, last.
    void mostraStatistiche(const QList<TestiStorico::CifrePosto> &blocchi);
    void chiediGrafico();
    // The series chosen under "Posto e versione", analysed with the rules chosen now.
    void mostraCarta();
    // "Fissa i limiti…": who fixes them, then the set recorded on the station's file.
    void chiediOperatoreLimiti();
    void fissaLimiti(const QString &operatore);
    void esporta();
    // The figures' and charts' filter: the list's, without reference units' runs, which prove the
    // bench and not a product, whatever the list shows.
    FiltroProve filtroDelleCifre() const;
    // "Rapporto PDF…": the run chosen read again and checked against its digest, then the file's
    // name asked, then written by banco-rapporto while the window goes on.
    void rapportoPdf();
    void chiediFileRapporto(const ProvaCompleta &prova);
    void scriviCsv(const QString &titolo, const QString &nome, const QByteArray &csv);
    void aggiornaStato();

    std::unique_ptr<LettoreStorico> m_lettore;
    std::unique_ptr<ModelloStorico> m_modello;
    QLineEdit *m_unita;
    QLineEdit *m_dal;
    QLineEdit *m_al;
    QLineEdit *m_stazione;
    QLineEdit *m_operatore;
    QComboBox *m_esito;
    QComboBox *m_campioni;
    QLineEdit *m_banco;
    QLineEdit *m_posto;
    QTimer *m_attesa;
    QTabWidget *m_schede;
    QTableView *m_prove;
    QTableView *m_vistaLetture;
    QStandardItemModel *m_letture;
    QTableView *m_vistaStatistiche;
    QStandardItemModel *m_tabellaStatistiche;
    QLabel *m_rese; // what the figures' tab waits for, or why it has none
    QCheckBox *m_perPosto;
    QTableView *m_vistaRese;
    QStandardItemModel *m_tabellaRese;
    QTableView *m_vistaReseRighe;
    QStandardItemModel *m_tabellaReseRighe;
    GraficoPareto *m_pareto;
    QComboBox *m_rigaGrafico;
    QLabel *m_etichettaSerie;
    QComboBox *m_serieGrafico; // shown only when the row has several series
    QCheckBox *m_regole5A8;
    QPushButton *m_fissa;
    GraficoStorico *m_grafico;
    QLabel *m_riassunto;
    QListWidget *m_violazioni;
    QLabel *m_stato;
    ScrittoreRapporti *m_scrittore;
    QString m_archivio;
    QString m_avviso;
    QString m_errore;
    QString m_rifiuto; // why the filter's fields are not applied
    QString m_sceltaDaRitrovare; // the run chosen before a refresh, by uuid
    std::pair<QString, int> m_rigaDaRitrovare{QString(), -1}; // the chart's, as sha and row
    QList<StatisticaRiga> m_statistiche; // of every socket: the chart's rows
    QList<TestiStorico::CifrePosto> m_cifre; // as shown, for the export
    QList<SerieCarta> m_serie; // the chart row's series, one per socket and bench version
    SerieCarta m_carta; // the one drawn
    CartaControllo::Analisi m_analisi;
    std::pair<QString, QString> m_serieDaRitrovare; // the series drawn, as socket and version
    bool m_statisticheDaRifare = true;
    bool m_fissando = false; // limits asked to be recorded, not yet answered
    quint64 m_generazione = 0; // of the filter
    quint64 m_letturaChiesta = 0;
    quint64 m_rapportoChiesto = 0; // only the last report asked opens its dialog
};
