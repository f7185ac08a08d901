#include "grafici_tabella.h"

#include "grafico_ripetizione.h"
#include "registro_traffico.h"
#include "riga_banco.h"

#include <QGridLayout>
#include <QLabel>
#include <QScreen>
#include <QShortcut>

using namespace std::chrono_literals;

namespace {

// A reading of the row's instrument and address, from the table or from the panel.
bool letturaDi(const RisultatoRichiesta &risultato, quint16 strumento, quint16 memoria)
{
    const TestiUsati &t = risultato.testi;
    bool strumentoOk = false, memoriaOk = false;
    return t[int(TestoUsato::Comando)].trimmed().compare(u"Lettura", Qt::CaseInsensitive) == 0
        && t[int(TestoUsato::IndirizzoStrumento)].trimmed().toUInt(&strumentoOk) == strumento
        && strumentoOk
        && t[int(TestoUsato::IndirizzoMemoria)].trimmed().toUInt(&memoriaOk, 16) == memoria
        && memoriaOk;
}

GraficoRipetizione::Scala scalaDi(const RigaBanco &riga)
{
    GraficoRipetizione::Scala scala;
    scala.valore = [riga](quint16 parola) { return riga.comeNumero(parola); };
    scala.titolo = !riga.numerica() ? QStringLiteral("parola (decimale)")
        : riga.unita.isEmpty()      ? QStringLiteral("valore")
                                    : QStringLiteral("valore (%1)").arg(riga.unita);
    scala.minimo = riga.minimo;
    scala.massimo = riga.massimo;
    scala.conLatenza = false;
    return scala;
}

} // namespace

GraficiTabella::GraficiTabella(const QList<RigaBanco> &righe, const RegistroTraffico &registro,
    Sequenziatore &sequenziatore, QWidget *parent)
    : QWidget(parent, Qt::Window)
    , m_aggiornamento(
          500ms,
          [this] {
              for (const Grafico &grafico : m_grafici)
                  grafico.disegno->aggiorna();
          },
          this)
{
    setObjectName(QStringLiteral("graficiTabella"));
    setAttribute(Qt::WA_DeleteOnClose);
    const QList<RigaBanco> mostrate = righe.mid(0, kMassimoRighe);
    // Two columns from three charts up, so that six fit a screen of 1280 × 1024.
    const int colonne = mostrate.size() > 2 ? 2 : 1;
    auto *griglia = new QGridLayout(this);
    QStringList nomi;
    for (const RigaBanco &riga : mostrate) {
        auto *disegno = new GraficoRipetizione(scalaDi(riga), this);
        disegno->setAccessibleName(QStringLiteral("Grafico di %1").arg(riga.nomeMostrato()));
        disegno->setAccessibleDescription(
            QStringLiteral("Il valore della riga nel tempo, in secondi dalla prima lettura, con "
                           "i limiti come linee tratteggiate; in rosso in basso le letture "
                           "senza risposta o con errore."));
        auto *titolo = new QLabel(
            QStringLiteral("%1 (strumento %2, memoria %3)%4")
                .arg(riga.nomeMostrato())
                .arg(riga.strumento)
                .arg(riga.testoMemoria(),
                    riga.limiti().isEmpty() ? QString() : QStringLiteral(": ") + riga.limiti()),
            this);
        const int n = int(m_grafici.size());
        griglia->addWidget(titolo, 2 * (n / colonne), n % colonne);
        griglia->addWidget(disegno, 2 * (n / colonne) + 1, n % colonne);
        griglia->setRowStretch(2 * (n / colonne) + 1, 1);
        nomi << riga.nomeMostrato();
        m_grafici.push_back({riga.strumento, riga.memoria, disegno});
    }
    // The readings already made, as far as the record still holds them.
    registro.perOgniRisultato([&](const RisultatoRichiesta &risultato) {
        for (const Grafico &grafico : m_grafici) {
            if (letturaDi(risultato, grafico.strumento, grafico.memoria)) {
                if (!m_inizio.isValid())
                    m_inizio = risultato.inizio;
                grafico.disegno->aggiungi(risultato, secondi(risultato));
            }
        }
    });
    for (const Grafico &grafico : m_grafici)
        grafico.disegno->aggiorna();

    setWindowTitle(QStringLiteral("Grafico: %1").arg(nomi.join(QStringLiteral(", "))));
    const int righeDiGrafici = (int(m_grafici.size()) + colonne - 1) / colonne;
    const QRect schermo = screen()->availableGeometry();
    resize(std::min(640 * colonne, schermo.width()),
        std::min(std::max(1, righeDiGrafici) * 320, schermo.height() - 40));
    // Nothing in it takes the keys: Esc closes it, as it closes a dialog.
    connect(new QShortcut(QKeySequence(Qt::Key_Escape), this), &QShortcut::activated, this,
        &QWidget::close);
    m_aggiornamento.segui(sequenziatore);
}

GraficiTabella::~GraficiTabella() = default;

double GraficiTabella::secondi(const RisultatoRichiesta &risultato) const
{
    return m_inizio.msecsTo(risultato.inizio) / 1000.0;
}

void GraficiTabella::aggiungi(const RigaBanco &riga, const RisultatoRichiesta &risultato)
{
    if (!m_inizio.isValid())
        m_inizio = risultato.inizio;
    for (const Grafico &grafico : m_grafici) {
        if (grafico.strumento == riga.strumento && grafico.memoria == riga.memoria) {
            grafico.disegno->aggiungi(risultato, secondi(risultato));
            m_aggiornamento.richiedi();
        }
    }
}
