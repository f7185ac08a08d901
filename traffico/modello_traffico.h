#pragma once

#include "testi_traffico.h"

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

    // The columns are the record's texts with the event's device before the byte: the device
    // names the line each row was on, where a window shows more than one line.
    static constexpr int kColonnaDispositivo = TestiTraffico::Byte;
    static constexpr int kNumeroColonne = TestiTraffico::NumeroColonne + 1;
    // The model's column of one of the record's texts.
    static int colonna(TestiTraffico::Colonna testo)
    {
        return testo < kColonnaDispositivo ? testo : testo + 1;
    }

    const RegistroTraffico &registro() const { return *m_registro; }
    // Shows another record, from its oldest event.
    void setRegistro(const RegistroTraffico &registro);

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &indice, int ruolo = Qt::DisplayRole) const override;
    QVariant headerData(int sezione, Qt::Orientation orientamento, int ruolo) const override;

    // Takes in what the record gained and lost since the last call; true if anything changed.
    bool sincronizza();

private:
    const RegistroTraffico *m_registro;
    quint64 m_primo = 0; // absolute number of the first row shown
    quint64 m_fine = 0;
};
