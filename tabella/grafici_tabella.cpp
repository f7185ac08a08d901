#include "grafici_tabella.h"

#include "grafico_ripetizione.h"
#include "riga_banco.h"
#include "statistiche.h"

#include <QLabel>
#include <QShortcut>
#include <QVBoxLayout>

struct GraficiTabella::Grafico
{
    quint16 strumento;
    quint16 memoria;
    StatisticheRipetizione statistiche;
    GraficoRipetizione *disegno = nullptr;
};

GraficiTabella::GraficiTabella(const QList<RigaBanco> &righe, QWidget *parent)
    : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("graficiTabella"));
    setAttribute(Qt::WA_DeleteOnClose);
    QStringList nomi;
    auto *colonna = new QVBoxLayout(this);
    for (const RigaBanco &riga : righe.mid(0, kMassimoRighe)) {
        auto grafico = std::make_unique<Grafico>();
        grafico->strumento = riga.strumento;
        grafico->memoria = riga.memoria;
        grafico->disegno = new GraficoRipetizione(grafico->statistiche, this);
        grafico->disegno->setAccessibleName(
            QStringLiteral("Grafico di %1").arg(riga.nomeMostrato()));
        auto *titolo
            = new QLabel(QStringLiteral("%1 (strumento %2, memoria %3), parola in decimale")
                             .arg(riga.nomeMostrato())
                             .arg(riga.strumento)
                             .arg(riga.testoMemoria()),
                this);
        colonna->addWidget(titolo);
        colonna->addWidget(grafico->disegno, 1);
        nomi << riga.nomeMostrato();
        m_grafici.push_back(std::move(grafico));
    }
    setWindowTitle(QStringLiteral("Grafico: %1").arg(nomi.join(QStringLiteral(", "))));
    resize(640, std::min<int>(900, 260 * int(m_grafici.size())));
    // Nothing in it takes the keys: Esc closes it, as it closes a dialog.
    connect(new QShortcut(QKeySequence(Qt::Key_Escape), this), &QShortcut::activated, this,
        &QWidget::close);
    m_orologio.start();
    m_aggiornamento.setInterval(500);
    connect(&m_aggiornamento, &QTimer::timeout, this, [this] {
        for (const auto &grafico : m_grafici)
            grafico->disegno->aggiorna();
    });
    m_aggiornamento.start();
}

GraficiTabella::~GraficiTabella() = default;

void GraficiTabella::aggiungi(const RigaBanco &riga, const RisultatoRichiesta &risultato)
{
    for (const auto &grafico : m_grafici) {
        if (grafico->strumento == riga.strumento && grafico->memoria == riga.memoria) {
            grafico->statistiche.aggiungi(risultato);
            grafico->disegno->aggiungi(risultato, m_orologio.elapsed() / 1000.0);
        }
    }
}
