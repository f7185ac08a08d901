#include "banco_prova.h"

#include <QFile>

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
    return comeTesto(peer->gruppi(50ms));
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
