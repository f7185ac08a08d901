#include "testi_traffico.h"

#include "numeri_italiani.h"

#include <array>

namespace TestiTraffico {

QString tipo(TipoEvento tipo)
{
    switch (tipo) {
    case TipoEvento::Trasmesso:
        return QStringLiteral("TX");
    case TipoEvento::Ricevuto:
        return QStringLiteral("RX");
    case TipoEvento::Aperta:
        return QStringLiteral("aperta");
    case TipoEvento::Impostazioni:
        return QStringLiteral("impostazioni");
    case TipoEvento::Chiusa:
        return QStringLiteral("chiusa");
    case TipoEvento::Drenaggio:
        return QStringLiteral("drenaggio");
    case TipoEvento::Errore:
        return QStringLiteral("errore");
    case TipoEvento::PortaPersa:
        return QStringLiteral("porta persa");
    case TipoEvento::Inizio:
        return QStringLiteral("richiesta");
    case TipoEvento::Risultato:
        return QStringLiteral("risultato");
    }
    return {};
}

QString fase(const RegistroTraffico::Evento &evento)
{
    if (evento.tipo == TipoEvento::Inizio || evento.tipo == TipoEvento::Risultato)
        return {};
    if (evento.fase == RegistroTraffico::kFuoriRichiesta)
        return QStringLiteral("fuori richiesta");
    return QStringLiteral("%1 %2")
        .arg(evento.inPausa ? QStringLiteral("pausa") : QStringLiteral("fase"))
        .arg(evento.fase);
}

QString byte(quint8 valore)
{
    static const std::array<const char *, 33> kControlli
        = {"NUL", "SOH", "STX", "ETX", "EOT", "ENQ", "ACK", "BEL", "BS", "HT", "LF", "VT", "FF",
            "CR", "SO", "SI", "DLE", "DC1", "DC2", "DC3", "DC4", "NAK", "SYN", "ETB", "CAN", "EM",
            "SUB", "ESC", "FS", "GS", "RS", "US", "DEL"};
    const QString cifre = QStringLiteral("%1").arg(valore, 2, 16, QChar(u'0')).toUpper();
    if (valore < 0x20)
        return cifre + u' ' + QLatin1String(kControlli[valore]);
    if (valore == 0x7F)
        return cifre + QStringLiteral(" DEL");
    return cifre;
}

QString esadecimale(const QByteArray &dati)
{
    return QString::fromLatin1(dati.toHex(' ')).toUpper();
}

namespace {

QString decimale(double valore, int decimali, Lettore lettore)
{
    return lettore == Lettore::Finestra ? NumeriItaliani::decimale(valore, decimali)
                                        : QString::number(valore, 'f', decimali);
}

} // namespace

QString riassunto(const RisultatoRichiesta &r, Lettore lettore)
{
    QStringList parti{r.testoEsito()};
    if (r.valore)
        parti << QStringLiteral("valore %1").arg(*r.valore);
    if (r.latenzaUs)
        parti << QStringLiteral("latenza %1 ms").arg(decimale(*r.latenzaUs / 1000.0, 3, lettore));
    parti << QStringLiteral("durata %1 ms").arg(decimale(r.durataUs / 1000.0, 1, lettore));
    parti << QStringLiteral("inviati %1").arg(esadecimale(r.inviati));
    if (r.numeroRicevuti > 0)
        parti << QStringLiteral("ricevuti %1").arg(esadecimale(r.ricevuti));
    return parti.join(QStringLiteral(" · "));
}

namespace {

const QStringList kColonneRisultato = {"inizio", "porta", "testo_porta", "testo_baud",
    "testo_indirizzo", "testo_comando", "testo_memoria", "inviati", "ricevuti", "numero_ricevuti",
    "valore", "esito", "latenza_us", "durata_us"};

QStringList campiRisultato(const RisultatoRichiesta &r)
{
    QStringList campi{
        r.inizio.toString(Qt::ISODateWithMs), r.porta ? QString::number(r.porta) : QString()};
    for (const QString &testo : r.testi)
        campi << testo;
    campi << esadecimale(r.inviati) << esadecimale(r.ricevuti) << QString::number(r.numeroRicevuti)
          << (r.valore ? QString::number(*r.valore) : QString()) << r.testoEsito()
          << (r.latenzaUs ? QString::number(*r.latenzaUs) : QString())
          << QString::number(r.durataUs);
    return campi;
}

} // namespace

QString titoloColonna(int colonna)
{
    switch (colonna) {
    case Tempo:
        return QStringLiteral("Tempo (ms)");
    case Direzione:
        return QStringLiteral("Direzione");
    case Fase:
        return QStringLiteral("Fase");
    case Linea:
        return QStringLiteral("Linea");
    case Byte:
        return QStringLiteral("Byte");
    case Nota:
        return QStringLiteral("Nota");
    }
    return {};
}

QString colonna(const RegistroTraffico &registro, const RegistroTraffico::Evento &e, int colonna,
    Lettore lettore)
{
    switch (colonna) {
    case Tempo:
        return e.tempoRichiestaUs >= 0
            ? decimale(e.tempoRichiestaUs / 1000.0, 3, lettore)
            : QStringLiteral("t %1 s").arg(decimale(e.tempoUs / 1e6, 6, lettore));
    case Direzione:
        return tipo(e.tipo);
    case Fase:
        return fase(e);
    case Linea:
        return RegistroTraffico::linea(e);
    case Byte:
        if (e.tipo != TipoEvento::Trasmesso && e.tipo != TipoEvento::Ricevuto)
            return {};
        return byte(e.byte);
    case Nota:
        if (const RisultatoRichiesta *risultato = registro.risultato(e))
            return riassunto(*risultato, lettore);
        if (e.erroreLinea)
            return QStringLiteral("errore di parità o di trama: mostrato come ?");
        if (e.tipo == TipoEvento::Inizio)
            return QStringLiteral("richiesta %1").arg(e.richiesta);
        return registro.nota(e);
    }
    return {};
}

QStringList intestazioneCsv()
{
    return QStringList{"evento", "richiesta", "tempo_us", "tempo_richiesta_us", "tipo", "fase",
               "linea", "dispositivo", "byte", "errore_linea", "nota"}
    + kColonneRisultato;
}

QStringList rigaCsv(const RegistroTraffico &registro, qsizetype riga)
{
    const RegistroTraffico::Evento &e = registro.evento(riga);
    const bool conByte = e.tipo == TipoEvento::Trasmesso || e.tipo == TipoEvento::Ricevuto;
    QStringList campi{QString::number(registro.primoAssoluto() + quint64(riga)),
        e.richiesta ? QString::number(e.richiesta) : QString(), QString::number(e.tempoUs),
        e.tempoRichiestaUs >= 0 ? QString::number(e.tempoRichiestaUs) : QString(), tipo(e.tipo),
        fase(e), RegistroTraffico::linea(e), registro.dispositivo(e),
        conByte ? QStringLiteral("%1").arg(e.byte, 2, 16, QChar(u'0')).toUpper() : QString(),
        e.erroreLinea ? QStringLiteral("1") : QString(), registro.nota(e)};
    if (const RisultatoRichiesta *r = registro.risultato(e))
        campi << campiRisultato(*r);
    else
        campi.resize(intestazioneCsv().size());
    return campi;
}

QStringList intestazioneCsvRisultati()
{
    return QStringList{"richiesta", "dispositivo"} + kColonneRisultato;
}

QStringList rigaCsvRisultato(const RisultatoRichiesta &risultato)
{
    return QStringList{QString::number(risultato.numero), risultato.dispositivo}
    + campiRisultato(risultato);
}

namespace {

bool numerico(const QString &campo)
{
    bool ok = false;
    QString(campo).replace(u',', u'.').toDouble(&ok);
    return ok;
}

} // namespace

QByteArray inizioCsv(FormaCsv forma)
{
    return forma == FormaCsv::Foglio ? QByteArray("\xEF\xBB\xBF") : QByteArray();
}

QString numeroCsv(const QString &numero, FormaCsv forma)
{
    if (forma == FormaCsv::Macchina || numero.count(u'.') != 1 || !numerico(numero))
        return numero;
    return QString(numero).replace(u'.', u',');
}

QByteArray lineaCsv(const QStringList &campi, FormaCsv forma)
{
    const QChar separatore = forma == FormaCsv::Foglio ? u';' : u',';
    QByteArray linea;
    for (qsizetype i = 0; i < campi.size(); ++i) {
        if (i > 0)
            linea += char(separatore.unicode());
        QString campo = campi[i];
        // A text that a spreadsheet would take for a formula (an operator can type one into the
        // panel) is kept as text.
        if (!campo.isEmpty() && QStringLiteral("=+-@\t\r").contains(campo.front())
            && !numerico(campo))
            campo.prepend(u'\'');
        if (campo.contains(separatore) || campo.contains(u'"') || campo.contains(u'\n')
            || campo.contains(u'\r')) {
            campo.replace(u'"', QStringLiteral("\"\""));
            campo = u'"' + campo + u'"';
        }
        linea += campo.toUtf8();
    }
    linea += "\r\n";
    return linea;
}

bool scriviCsv(const RegistroTraffico &registro, QIODevice &file, QString *errore, FormaCsv forma)
{
    bool ok = file.write(inizioCsv(forma) + lineaCsv(intestazioneCsv(), forma)) >= 0;
    QByteArray blocco;
    for (qsizetype riga = 0; ok && riga < registro.size(); ++riga) {
        blocco += lineaCsv(rigaCsv(registro, riga), forma);
        if (blocco.size() > 1 << 16) {
            ok = file.write(blocco) == blocco.size();
            blocco.clear();
        }
    }
    ok = ok && file.write(blocco) == blocco.size();
    if (!ok && errore)
        *errore = file.errorString();
    return ok;
}

} // namespace TestiTraffico
