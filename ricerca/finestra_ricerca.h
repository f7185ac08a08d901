#pragma once

#include "ricerca_strumento.h"

#include <QList>
#include <QWidget>

class Pannello;
class QCheckBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QSpinBox;
class QStandardItemModel;
class QTableView;

// "Cerca strumento": which rates and addresses to try and the memory address to read, the count
// and the time before it starts; while it runs, the probe being tried and the time left; the
// combinations that answered, as they are found. "Usa" puts the chosen one's rate and address in
// the panel's selectors, the only thing here that touches the panel.
class FinestraRicerca : public QWidget
{
    Q_OBJECT

public:
    // elencoBaud: the panel's list of rates, offered as check boxes with the faster ones that
    // adapters use.
    FinestraRicerca(RicercaStrumento &ricerca, Pannello &pannello, const QStringList &elencoBaud,
        QWidget *parent = nullptr);

    void avvia();
    void ferma();
    // The result in row riga into the panel.
    void usa(int riga);

protected:
    void closeEvent(QCloseEvent *evento) override;

private:
    // What the fields ask for; nothing, with the reason shown, if a field cannot be used.
    std::optional<RicercaStrumento::Impostazioni> impostazioni(QString *errore) const;
    void aggiornaStima();
    void aggiornaStato();
    void aggiornaConti();
    void aggiungi(const RicercaStrumento::Trovato &trovato);
    void terminata(int errore, const QString &descrizione);
    void aggiornaPulsanti();
    void esporta();
    void messaggio(const QString &testo, const QString &dettaglio = {});

    RicercaStrumento &m_ricerca;
    Pannello &m_pannello;
    QList<QCheckBox *> m_baud;
    QLineEdit *m_altriBaud;
    QSpinBox *m_primo;
    QSpinBox *m_ultimo;
    QLineEdit *m_memoria;
    QCheckBox *m_fermatiAllaPrima;
    QLabel *m_stima;
    QPushButton *m_avvia;
    QPushButton *m_ferma;
    QProgressBar *m_avanzamento;
    QLabel *m_stato;
    QStandardItemModel *m_risultati;
    QTableView *m_tabella;
    QLabel *m_senzaRisposta;
    QPushButton *m_usa;
    QPushButton *m_esporta;
    qint64 m_provaInCorso = -1;
};
