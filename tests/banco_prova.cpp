#include "banco_prova.h"

#include "testi_traffico.h"

#include <QFile>

#include <vector>

using namespace std::chrono_literals;

const QString kRichiestaIniziale = QStringLiteral("55 | 00 00 | 00 | 00 02 | 00 08");

const std::map<QString, Campo> kCampi = {
    {"Combo1", Campo::Combo1},
    {"Combo2", Campo::Combo2},
    {"Combo5", Campo::Combo5},
    {"ComboComando", Campo::ComboComando},
    {"ComboIndirizzo", Campo::ComboIndirizzo},
    {"Text1", Campo::Text1},
};

Banco::Banco()
{
    comm.setRegistro(&registro);
    sequenziatore.setRegistro(&registro);
    qputenv("BANCO_PORTA1", QFile::encodeName(porta));
    ricollega();
}

Banco::~Banco()
{
    qunsetenv("BANCO_PORTA1");
}

void Banco::ricollega()
{
    peer = std::make_unique<PeerPty>();
    QFile::remove(porta);
    QFile::link(peer->percorso(), porta);
}

QString Banco::sullaLinea() const
{
    return ::sullaLinea(*peer, registro);
}

// The peer's own clock does not say where a phase ends: it could only stamp a byte when its
// thread reads it, and on a busy machine that lags the line by whatever the scheduler makes it
// wait (0x55 and the address once read less than 50 ms apart although they left 100 ms apart).
// The bytes are the line's; where each phase ends is what the program recorded as it wrote
// them. The newest bytes of the record are the ones the peer has, since a peer plugged in later
// saw only those.
QString sullaLinea(const PeerPty &peer, const RegistroTraffico &registro)
{
    std::vector<std::pair<quint32, quint8>> fasi; // of each byte written: its request and phase
    for (qsizetype i = 0; i < registro.size(); ++i) {
        if (const RegistroTraffico::Evento &e = registro.evento(i); e.tipo == TipoEvento::Trasmesso)
            fasi.emplace_back(e.richiesta, e.fase);
    }
    const QByteArray linea = peer.ricevuti();
    const qsizetype primo = qsizetype(fasi.size()) - linea.size(); // of the record, for linea[0]
    QList<QByteArray> gruppi;
    for (qsizetype i = 0, j = primo; i < linea.size(); ++i, ++j) {
        if (i == 0 || j == 0 || (j > 0 && fasi[size_t(j)] != fasi[size_t(j - 1)]))
            gruppi.append(QByteArray());
        gruppi.last().append(linea[i]);
    }
    return comeTesto(gruppi);
}

void Banco::esegui(const QString &azione)
{
    if (azione == u"clic") {
        sequenziatore.Command1_Click();
    } else if (azione == u"riaggancia") {
        peer->riaggancia();
        QFile::remove(porta);
    } else if (azione.startsWith(u"scrivi ")) {
        peer->scrivi(QByteArray::fromHex(azione.mid(7).toLatin1()));
    } else {
        pannello.impostaTesto(kCampi.at(azione.section(u'=', 0, 0)), azione.section(u'=', 1));
    }
}

QStringList Banco::registrati(TipoEvento tipo) const
{
    QStringList eventi;
    for (qsizetype i = 0; i < registro.size(); ++i) {
        const RegistroTraffico::Evento &e = registro.evento(i);
        if (e.tipo != tipo)
            continue;
        const QString byte = QStringLiteral("%1").arg(e.byte, 2, 16, QChar(u'0')).toUpper();
        if (tipo == TipoEvento::Trasmesso)
            eventi << QStringLiteral("%1:%2:%3").arg(byte).arg(QLatin1Char(e.parita)).arg(e.fase);
        else if (tipo == TipoEvento::Ricevuto)
            eventi << byte + u':' + TestiTraffico::fase(e);
        else
            eventi << registro.nota(e);
    }
    return eventi;
}

QList<QStringList> leggiCsv(const QByteArray &csv)
{
    QList<QStringList> righe{{}};
    QString campo;
    bool virgolette = false;
    const auto chiudiCampo = [&] {
        if (campo.size() > 1 && campo.front() == u'\''
            && QStringLiteral("=+-@\t\r").contains(campo[1]))
            campo.remove(0, 1);
        righe.last() << campo;
        campo.clear();
    };
    // A file for a spreadsheet starts with a byte-order mark and puts ';' between fields.
    const bool foglio = csv.startsWith("\xEF\xBB\xBF");
    const QChar separatore = foglio ? u';' : u',';
    const QString testo = QString::fromUtf8(foglio ? csv.mid(3) : csv);
    for (qsizetype i = 0; i < testo.size(); ++i) {
        const QChar c = testo[i];
        if (virgolette) {
            if (c == u'"' && i + 1 < testo.size() && testo[i + 1] == u'"')
                campo += testo[++i];
            else if (c == u'"')
                virgolette = false;
            else
                campo += c;
        } else if (c == u'"') {
            virgolette = true;
        } else if (c == separatore) {
            chiudiCampo();
        } else if (c == u'\r' && i + 1 < testo.size() && testo[i + 1] == u'\n') {
            chiudiCampo();
            righe << QStringList();
            ++i;
        } else {
            campo += c;
        }
    }
    righe.removeLast(); // after the last line's end
    return righe;
}
