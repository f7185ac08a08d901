#include "comandi_tabella.h"

#include "modello_tabella.h"

#include <algorithm>
#include <numeric>

namespace ComandiTabella {
namespace {

class Inserisci : public QUndoCommand
{
public:
    Inserisci(ModelloTabella &modello, int prima, QList<RigaBanco> righe, const QString &testo)
        : QUndoCommand(testo)
        , m_modello(modello)
        , m_prima(prima < 0 || prima > modello.rowCount() ? modello.rowCount() : prima)
        , m_righe(std::move(righe))
    { }

    void redo() override { m_modello.inserisci(m_prima, m_righe); }

    void undo() override
    {
        QList<int> inserite(m_righe.size());
        std::iota(inserite.begin(), inserite.end(), m_prima);
        m_modello.rimuovi(inserite);
    }

private:
    ModelloTabella &m_modello;
    int m_prima;
    QList<RigaBanco> m_righe;
};

class Rimuovi : public QUndoCommand
{
public:
    Rimuovi(ModelloTabella &modello, QList<int> righe)
        : m_modello(modello)
    {
        std::sort(righe.begin(), righe.end());
        righe.erase(std::unique(righe.begin(), righe.end()), righe.end());
        for (int n : righe) {
            if (n >= 0 && n < modello.rowCount())
                m_tolte.append({n, modello.riga(n)});
        }
        setText(m_tolte.size() == 1
                ? QStringLiteral("Elimina la riga %1").arg(m_tolte.front().first + 1)
                : QStringLiteral("Elimina %1 righe").arg(m_tolte.size()));
    }

    void redo() override
    {
        QList<int> righe;
        for (const auto &[n, riga] : std::as_const(m_tolte))
            righe << n;
        m_modello.rimuovi(righe);
    }

    // Each run of rows that stood together goes back at once, from the first: every place
    // counted before the removal is right again once the runs before it are back.
    void undo() override
    {
        for (qsizetype i = 0; i < m_tolte.size();) {
            qsizetype j = i + 1;
            while (j < m_tolte.size() && m_tolte[j].first == m_tolte[j - 1].first + 1)
                ++j;
            QList<RigaBanco> corsa;
            for (qsizetype k = i; k < j; ++k)
                corsa << m_tolte[k].second;
            m_modello.inserisci(m_tolte[i].first, corsa);
            i = j;
        }
    }

private:
    ModelloTabella &m_modello;
    QList<std::pair<int, RigaBanco>> m_tolte;
};

class Sposta : public QUndoCommand
{
public:
    Sposta(ModelloTabella &modello, int riga, int verso)
        : QUndoCommand(verso < 0 ? QStringLiteral("Sposta in su la riga %1").arg(riga + 1)
                                 : QStringLiteral("Sposta in giù la riga %1").arg(riga + 1))
        , m_modello(modello)
        , m_riga(riga)
        , m_verso(verso)
    { }

    void redo() override { m_modello.sposta(m_riga, m_verso); }
    void undo() override { m_modello.sposta(m_riga + m_verso, -m_verso); }

private:
    ModelloTabella &m_modello;
    int m_riga;
    int m_verso;
};

// An edit the model took before it was pushed, having checked it: the stack's first redo, as
// the edit is pushed, has nothing to do.
class GiaFatta : public QUndoCommand
{
public:
    using QUndoCommand::QUndoCommand;

    void redo() final
    {
        if (m_fatta)
            rifai();
        m_fatta = true;
    }

protected:
    virtual void rifai() = 0;

private:
    bool m_fatta = false;
};

class Cella : public GiaFatta
{
public:
    Cella(ModelloTabella &modello, int riga, const RigaBanco &prima, const QString &colonna)
        : GiaFatta(QStringLiteral("Modifica %1 della riga %2").arg(colonna).arg(riga + 1))
        , m_modello(modello)
        , m_riga(riga)
        , m_prima(prima)
        , m_dopo(modello.riga(riga))
    { }

    void rifai() override { m_modello.sostituisci(m_riga, m_dopo); }
    void undo() override { m_modello.sostituisci(m_riga, m_prima); }

private:
    ModelloTabella &m_modello;
    int m_riga;
    RigaBanco m_prima;
    RigaBanco m_dopo;
};

class Linea : public GiaFatta
{
public:
    Linea(ModelloTabella &modello, const QString &portaPrima, qint32 baudPrima)
        : GiaFatta(QStringLiteral("Cambia la linea"))
        , m_modello(modello)
        , m_portaPrima(portaPrima)
        , m_baudPrima(baudPrima)
        , m_portaDopo(modello.banco().porta)
        , m_baudDopo(modello.banco().baud)
    { }

    void rifai() override { m_modello.impostaLinea(m_portaDopo, m_baudDopo); }
    void undo() override { m_modello.impostaLinea(m_portaPrima, m_baudPrima); }

private:
    ModelloTabella &m_modello;
    QString m_portaPrima;
    qint32 m_baudPrima;
    QString m_portaDopo;
    qint32 m_baudDopo;
};

} // namespace

QUndoCommand *inserisci(
    ModelloTabella &modello, int prima, QList<RigaBanco> righe, const QString &testo)
{
    return new Inserisci(modello, prima, std::move(righe), testo);
}

QUndoCommand *rimuovi(ModelloTabella &modello, QList<int> righe)
{
    return new Rimuovi(modello, std::move(righe));
}

QUndoCommand *sposta(ModelloTabella &modello, int riga, int verso)
{
    return new Sposta(modello, riga, verso);
}

QUndoCommand *cellaCambiata(
    ModelloTabella &modello, int riga, const RigaBanco &prima, const QString &colonna)
{
    return new Cella(modello, riga, prima, colonna);
}

QUndoCommand *lineaCambiata(ModelloTabella &modello, const QString &portaPrima, qint32 baudPrima)
{
    return new Linea(modello, portaPrima, baudPrima);
}

} // namespace ComandiTabella
