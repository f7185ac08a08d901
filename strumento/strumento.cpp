#include "strumento.h"

#include <algorithm>

#include <QStringList>

using namespace std::chrono;

namespace {

constexpr int kGruppi = 5;
constexpr qsizetype kByteDelGruppo[kGruppi] = {1, 2, 1, 2, 2};
constexpr char kAck = 0x06;
constexpr char kNak = 0x15;

quint16 parola(const QByteArray &due)
{
    return quint16((quint8(due.at(0)) << 8) | quint8(due.at(1)));
}

QString esadecimale4(quint16 valore)
{
    return QStringLiteral("%1").arg(valore, 4, 16, QChar(u'0')).toUpper();
}

QByteArray byteDellaParola(quint16 valore)
{
    return QByteArray{1, char(valore >> 8)} + QByteArray{1, char(valore & 0xFF)};
}

} // namespace

QString comeEsadecimale(const QByteArray &byte)
{
    return QString::fromLatin1(byte.toHex(' ')).toUpper();
}

QMap<quint16, quint16> Strumento::Configurazione::memoriaIniziale()
{
    return {{0x0008, 1000}, {0x000B, 2500}, {0x000C, 230}, {0x000D, 50}, {0x000E, 4096},
        {0x0010, 1}, {0x0012, 0}, {0x0014, 65535}, {0x0016, 300}, {0x0018, 12345}, {0x001A, 42},
        {0x001C, 7}, {0x0034, 9999}};
}

Strumento::Strumento(Configurazione configurazione)
    : m_configurazione(std::move(configurazione))
{ }

std::optional<Strumento::Esito> Strumento::ricevi(
    char byte, milliseconds istante, std::optional<Linea> linea, milliseconds incertezza)
{
    // After a silence longer than any pause, whatever came before is over.
    std::optional<Esito> incompleta = silenzio(istante);
    const bool inRitardo = incertezza >= kSilenzioTraGruppi;
    if (inRitardo)
        linea.reset(); // the settings now may be those of a later phase
    // Read late, a byte after a group already whole starts the next one.
    const bool gruppoIntero = !m_gruppi.isEmpty() && m_gruppi.size() <= kGruppi
        && m_gruppi.last().byte.size() >= kByteDelGruppo[m_gruppi.size() - 1];
    const bool nuovoGruppo = m_gruppi.isEmpty()
        || istante - m_gruppi.last().fine >= kSilenzioTraGruppi
        || (inRitardo && gruppoIntero && !m_scarta);
    const bool inizio55 = nuovoGruppo && !m_gruppi.isEmpty() && quint8(byte) == 0x55
        && istante - m_gruppi.last().fine >= kPausaMinima;
    // Only a request's first byte comes under even parity: a 55 so seen starting a group in the
    // middle of a request is the next request starting, the one before cut short (its sender
    // stopped or killed in the middle of it). Read late, the line says nothing of it.
    if (inizio55 && linea && !linea->dispari) {
        if (!m_scarta)
            incompleta = Esito{
                QStringLiteral("richiesta incompleta: %1; nessuna risposta").arg(gruppiComeTesto()),
                std::nullopt, milliseconds(0), false};
        m_gruppi.clear();
        m_scarta = false;
    }
    if (m_scarta) {
        // A broken request is let go by until a 55 comes after a pause: the next one starting.
        if (!inizio55) {
            m_gruppi.last().fine = istante;
            return incompleta;
        }
        m_gruppi.clear();
        m_scarta = false;
    } else if (nuovoGruppo && !m_gruppi.isEmpty()
        && m_gruppi.last().byte.size() < kByteDelGruppo[m_gruppi.size() - 1]) {
        // The group before ended short. A 55 alone there is a request starting again (one that
        // broke off, as when the line dropped); anything else breaks this one.
        if (m_gruppi.last().byte != QByteArray("\x55"))
            return nonValida(QStringLiteral("il gruppo %1 ha %2 byte invece di %3")
                                 .arg(m_gruppi.size())
                                 .arg(m_gruppi.last().byte.size())
                                 .arg(kByteDelGruppo[m_gruppi.size() - 1]));
        Gruppo ripartenza = m_gruppi.takeLast();
        incompleta = Esito{
            QStringLiteral("richiesta incompleta: %1; nessuna risposta").arg(gruppiComeTesto()),
            std::nullopt, milliseconds(0), false};
        m_gruppi = {ripartenza};
        // Judged again as the first group it now is: as the one it was taken for, its even
        // parity was wrong.
        m_gruppi.last().lineaSbagliata = ripartenza.linea
            ? lineaSbagliata(ripartenza.byte.front(), *ripartenza.linea)
            : QString();
    }
    if (nuovoGruppo)
        m_gruppi.append({QByteArray(), istante, istante, QString(), linea, incertezza, incertezza});
    Gruppo &gruppo = m_gruppi.last();
    gruppo.byte.append(byte);
    gruppo.fine = istante;
    gruppo.incertezzaFine = incertezza;
    if (linea && gruppo.lineaSbagliata.isEmpty())
        gruppo.lineaSbagliata = lineaSbagliata(byte, *linea);
    std::optional<Esito> esito = valuta();
    return esito ? esito : incompleta;
}

std::optional<Strumento::Esito> Strumento::silenzio(milliseconds istante)
{
    if (m_gruppi.isEmpty() || istante - m_gruppi.last().fine <= kPausaMassima)
        return std::nullopt;
    std::optional<Esito> esito;
    if (!m_scarta) {
        esito = Esito{
            QStringLiteral("richiesta incompleta: %1; nessuna risposta").arg(gruppiComeTesto()),
            std::nullopt, milliseconds(0), false};
    }
    m_gruppi.clear();
    m_scarta = false;
    return esito;
}

// A byte at another rate reaches a real instrument as other bytes or as framing errors, and a
// parity bit it does not expect as a parity error: either way it hears no request.
QString Strumento::lineaSbagliata(char byte, const Linea &linea) const
{
    if (linea.baud != m_configurazione.baud)
        return QStringLiteral("baud %1 invece di %2").arg(linea.baud).arg(m_configurazione.baud);
    const QString testo = comeEsadecimale(QByteArray(1, byte));
    const bool primo = m_gruppi.size() == 1;
    if (primo && linea.dispari)
        return QStringLiteral("%1 con parità dispari").arg(testo);
    if (!primo && !linea.dispari)
        return QStringLiteral("%1 con parità pari o senza parità").arg(testo);
    return {};
}

std::optional<Strumento::Esito> Strumento::valuta()
{
    const qsizetype indice = m_gruppi.size() - 1;
    if (indice >= kGruppi)
        return nonValida(QStringLiteral("più di cinque gruppi di byte"));
    const Gruppo &gruppo = m_gruppi.last();
    if (gruppo.byte.size() > kByteDelGruppo[indice]) {
        return nonValida(QStringLiteral("il gruppo %1 ha %2 byte invece di %3")
                             .arg(indice + 1)
                             .arg(gruppo.byte.size())
                             .arg(kByteDelGruppo[indice]));
    }
    if (gruppo.byte.size() < kByteDelGruppo[indice])
        return std::nullopt;
    if (indice == 0 && gruppo.byte != QByteArray("\x55"))
        return nonValida(QStringLiteral("il primo byte non è 55"));
    if (indice == 3 && gruppo.byte != QByteArray("\x00\x02", 2))
        return nonValida(QStringLiteral("il quarto gruppo non è 00 02"));
    if (indice > 0) {
        // At its longest: the group before may have ended earlier than it was read.
        const milliseconds pausa
            = gruppo.inizio - m_gruppi.at(indice - 1).fine + m_gruppi.at(indice - 1).incertezzaFine;
        if (pausa < kPausaMinima) {
            return nonValida(QStringLiteral("il gruppo %1 è arrivato solo %2 ms dopo il precedente")
                                 .arg(indice + 1)
                                 .arg(pausa.count()));
        }
    }
    if (indice < kGruppi - 1)
        return std::nullopt;
    QString sbagliata;
    for (const Gruppo &g : std::as_const(m_gruppi)) {
        if (!g.lineaSbagliata.isEmpty()) {
            sbagliata = g.lineaSbagliata;
            break;
        }
    }
    Esito fatto = sbagliata.isEmpty() ? rispondi() : esitoRegistrato(sbagliata, std::nullopt);
    m_gruppi.clear();
    return fatto;
}

Strumento::Esito Strumento::nonValida(const QString &motivo)
{
    Esito esito;
    esito.registro = QStringLiteral("richiesta non valida: %1; motivo: %2; nessuna risposta")
                         .arg(gruppiComeTesto(), motivo);
    // The rest of the broken request is let go by until the line falls silent.
    m_scarta = true;
    return esito;
}

Strumento::Esito Strumento::rispondi()
{
    const quint16 indirizzo = parola(m_gruppi.at(1).byte);
    const auto comando = quint8(m_gruppi.at(2).byte.at(0));
    const quint16 memoria = parola(m_gruppi.at(4).byte);

    Esito esito;
    QString cosa;
    if (!m_configurazione.indirizzi.contains(indirizzo)) {
        cosa = QStringLiteral("per lo strumento %1, che non è sulla linea").arg(indirizzo);
    } else if (comando == 0x00) {
        const QMap<quint16, quint16> &propria = m_configurazione.memoriaDi[indirizzo];
        const quint16 valore = propria.contains(memoria)
            ? propria.value(memoria)
            : m_configurazione.memoria.value(memoria, 0);
        cosa = QStringLiteral("lettura di %1:%2 = %3")
                   .arg(indirizzo)
                   .arg(esadecimale4(memoria))
                   .arg(valore);
        m_ultimaLettura = QByteArray(1, kAck) + QByteArray(1, 0) + byteDellaParola(valore);
        if (const auto passo = m_configurazione.deriva.constFind(memoria);
            passo != m_configurazione.deriva.cend()) {
            m_configurazione.memoriaDi[indirizzo].insert(
                memoria, quint16(std::clamp(int(valore) + *passo, 0, 0xFFFF)));
        }
        esito.risposta = m_ultimaLettura;
    } else if (comando == 0x01) {
        cosa = QStringLiteral("ripetizione dell'ultima lettura");
        esito.risposta = m_ultimaLettura.value_or(QByteArray(1, kNak));
    } else if (comando == 0x02) {
        cosa = QStringLiteral("scrittura in %1").arg(esadecimale4(memoria));
        esito.risposta = QByteArray(1, kAck);
    } else {
        cosa = QStringLiteral("comando sconosciuto %1").arg(comando, 2, 16, QChar(u'0'));
        esito.risposta = QByteArray(1, kNak);
    }

    if (esito.risposta) {
        ++m_richiesteRisposte;
        Guasto guasto = m_configurazione.guasto;
        if (guasto == Guasto::Misto) {
            // Six right answers in ten; the rest spread over the faults.
            static constexpr Guasto kScelte[] = {Guasto::Nessuno, Guasto::Nessuno, Guasto::Nessuno,
                Guasto::Nessuno, Guasto::Nessuno, Guasto::Nessuno, Guasto::NessunaRisposta,
                Guasto::Parziale, Guasto::Rumore, Guasto::Riaggancio};
            guasto = kScelte[std::uniform_int_distribution<int>(0, 9)(m_caso)];
            esito.ritorna = guasto == Guasto::Riaggancio;
        }
        switch (guasto) {
        case Guasto::Nessuno:
            break;
        case Guasto::NessunaRisposta:
            esito.risposta.reset();
            cosa += QStringLiteral(" (guasto: nessuna risposta)");
            break;
        case Guasto::Ritardo:
            esito.ritardo = m_configurazione.ritardo;
            cosa += QStringLiteral(" (guasto: risposta dopo %1 ms)").arg(esito.ritardo.count());
            break;
        case Guasto::Parziale:
            esito.risposta = esito.risposta->left(2);
            cosa += QStringLiteral(" (guasto: risposta parziale)");
            break;
        case Guasto::Rumore: {
            QByteArray rumore(std::uniform_int_distribution<int>(1, 8)(m_caso), Qt::Uninitialized);
            for (char &c : rumore)
                c = char(std::uniform_int_distribution<int>(0, 255)(m_caso));
            esito.risposta = rumore;
            cosa += QStringLiteral(" (guasto: rumore)");
            break;
        }
        case Guasto::Misto:
            break;
        case Guasto::Riaggancio:
            if (esito.ritorna
                || m_richiesteRisposte >= m_configurazione.richiestePrimaDelRiaggancio) {
                esito.riaggancia = true;
                cosa += esito.ritorna ? QStringLiteral(" (guasto: poi la linea cade e torna)")
                                      : QStringLiteral(" (guasto: poi la linea cade)");
            }
            break;
        }
    }

    esito.registro = esitoRegistrato(cosa, esito.risposta).registro;
    return esito;
}

Strumento::Esito Strumento::esitoRegistrato(
    const QString &cosa, std::optional<QByteArray> risposta) const
{
    Esito esito;
    esito.registro
        = QStringLiteral("richiesta: %1; pause: %2 ms; %3; %4")
              .arg(gruppiComeTesto(), pauseComeTesto(), cosa,
                  risposta ? QStringLiteral("risposta: %1").arg(comeEsadecimale(*risposta))
                           : QStringLiteral("nessuna risposta"));
    esito.risposta = std::move(risposta);
    return esito;
}

QString Strumento::gruppiComeTesto() const
{
    QStringList gruppi;
    for (const Gruppo &gruppo : m_gruppi)
        gruppi.append(comeEsadecimale(gruppo.byte));
    return gruppi.join(QStringLiteral(" | "));
}

// A pause read late is known only up to its longest: "≤150".
QString Strumento::pauseComeTesto() const
{
    QStringList pause;
    for (qsizetype i = 1; i < m_gruppi.size(); ++i) {
        const Gruppo &prima = m_gruppi.at(i - 1);
        const milliseconds pausa = m_gruppi.at(i).inizio - prima.fine;
        pause.append(
            std::max(prima.incertezzaFine, m_gruppi.at(i).incertezzaInizio) >= kSilenzioTraGruppi
                ? QStringLiteral("≤%1").arg((pausa + prima.incertezzaFine).count())
                : QString::number(pausa.count()));
    }
    return pause.join(u' ');
}
