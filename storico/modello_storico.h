#pragma once

#include "archivio.h"

#include <QAbstractTableModel>

class LettoreStorico;

// The runs of the archive that a filter chooses, newest first, fetched a page at a time as the
// view scrolls to them: an archive of millions of readings costs the window only the rows shown.
class ModelloStorico : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Colonna {
        Inizio,
        Unita,
        Tentativo,
        Esito,
        Banco,
        Stazione,
        Posto,
        Operatore,
        Fine,
        NumeroColonne
    };
    static constexpr int kPagina = 200;

    explicit ModelloStorico(LettoreStorico &lettore, QObject *parent = nullptr);

    // The runs of this filter, from the first page.
    void imposta(const FiltroProve &filtro);
    // The same filter read again: as many runs as are loaded now, at least a page, shown in
    // place of these when they arrive, so that the view does not go blank meanwhile.
    void rileggi();
    // No runs, and none asked: a filter that was refused answers nothing.
    void svuota();
    const FiltroProve &filtro() const { return m_filtro; }
    const ProvaArchiviata &prova(int riga) const { return m_prove.at(riga); }
    // How many runs the filter chooses, once counted.
    std::optional<qint64> totale() const { return m_totale; }

    int rowCount(const QModelIndex &genitore = {}) const override;
    int columnCount(const QModelIndex &genitore = {}) const override;
    QVariant data(const QModelIndex &indice, int ruolo) const override;
    QVariant headerData(int sezione, Qt::Orientation verso, int ruolo) const override;
    bool canFetchMore(const QModelIndex &genitore) const override;
    void fetchMore(const QModelIndex &genitore) override;

signals:
    // A page arrived (the first after imposta: the filter is answered), or could not be read.
    void caricate();
    void contate(qint64 totale);
    void errore(const QString &motivo);

private:
    void chiediConteggio();
    // quante runs after those loaded, or in their place.
    void chiediPagina(qint64 quante, bool alPosto);

    LettoreStorico &m_lettore;
    FiltroProve m_filtro;
    QList<ProvaArchiviata> m_prove;
    std::optional<qint64> m_totale;
    quint64 m_generazione = 0;
    bool m_inAttesa = false;
    bool m_finite = false;
};
