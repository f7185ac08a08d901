#pragma once

#include <QAbstractTableModel>

class RegistroTraffico;

// The record as a table, a row per event. The record grows at the end and drops at the front;
// the model follows it only when asked (sincronizza), so that a flood of bytes costs the view one
// insertion per call, not one per byte.
class ModelloTraffico : public QAbstractTableModel
{
    Q_OBJECT

public:
    explicit ModelloTraffico(const RegistroTraffico &registro, QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &indice, int ruolo = Qt::DisplayRole) const override;
    QVariant headerData(int sezione, Qt::Orientation orientamento, int ruolo) const override;

    // Takes in what the record gained and lost since the last call; true if anything changed.
    bool sincronizza();

private:
    const RegistroTraffico &m_registro;
    quint64 m_primo = 0; // absolute number of the first row shown
    quint64 m_fine = 0;
};
