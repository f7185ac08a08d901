#!/usr/bin/python3
# The program as a screen reader meets it: through the accessibility tree (AT-SPI), on a private
# session bus, with the windows opened through their menu items as a reader's user would. Every
# window is announced as a window with its title, every object that takes focus has a name that
# says what it is (not merely what it holds), tables name their columns, and Tab, pressed
# through the X server, goes round each window's controls in reading order: the panel's eight
# by their captions. The station (Collaudo) is opened from the command line, as a line's launcher
# opens it: its serial field keeps the focus, and a unit scanned there ends in a banner that the
# tree names with its outcome, read out on the field itself. The instrument's address is described
# with the range a request takes. A station whose process drifts tells DERIVA after the outcome,
# heard on the serial field and named in the tree.
#
# Run inside its own bus: dbus-run-session -- prova_accessibilita.py BANCO_SERIALE STRUMENTO

import os
import subprocess
import sys
import tempfile
import time

import pyatspi

# Each window, where its focus starts and where Tab takes it, in order, by name.
GIRI_DI_TAB = {
    "Banco Seriale": ["Baud", "Porta", "Indirizzo Strumento", "Invia comando",
                      "Stringa ricevuta (hex)", "Tipo di comando", "Indirizzo memoria(Hex)",
                      "Dato ricevuto"],
    "Traffico": ["Traffico della linea", "Pulisci", "Salva…"],
    "Ripeti": ["Pausa fra le richieste:", "Quante richieste:", "fermati al primo errore",
               "File di registro…", "Avvia", "Azzera"],
    # With no rows, reading and stopping are disabled and Tab passes them by.
    "Tabella — banco senza nome": ["Porta della tabella", "Baud della tabella", "Aggiungi",
                                   "Duplica", "Elimina", "Su", "Giù", "Aggiungi intervallo…",
                                   "Importa CSV…", "Righe del banco", "Pausa fra i giri",
                                   "Grafico", "Esporta…"],
    "Storico": ["Numero di serie (inizio)", "Dal giorno", "Al giorno", "Esito",
                "Prove dei campioni", "Stazione", "Operatore", "Banco", "Posto dell'attrezzatura",
                "Prove, statistiche e grafico", "Prove", "Letture della prova", "Aggiorna",
                "Esporta CSV…", "Rapporto PDF…"],
    # Before a search, stopping, using and exporting are disabled.
    "Cerca strumento": [f"{b} baud" for b in ("110", "300", "600", "1200", "2400", "4800", "9600",
                                              "14400", "19200", "28800", "38400", "56000", "57600",
                                              "115200")]
                       + ["Tutte", "Nessuna", "Altre velocità", "Primo indirizzo dello strumento",
                          "Ultimo indirizzo dello strumento", "Indirizzo di memoria da leggere",
                          "fermati alla prima risposta", "Avvia",
                          "Combinazioni che hanno risposto"],
}
# Each secondary window and the menu item that opens it.
VOCI = {"Traffico": "Traffico", "Ripeti": "Ripeti…", "Tabella — banco senza nome": "Tabella",
        "Cerca strumento": "Cerca strumento…", "Storico": "Storico"}
BANCO_COLLAUDO = """{"formato": "banco-seriale", "versione": 1, "linea": {"porta": "1", "baud": 9600},
 "righe": [{"nome": "Temperatura", "strumento": 0, "memoria": "0008", "minimo": 20}]}"""
# A list's items and a table's cells are named by what they show: that is what they are.
NOMINATI_DAL_CONTENUTO = {"list item", "table cell"}

fallite = []


def verifica(condizione, messaggio):
    if not condizione:
        fallite.append(messaggio)


def attendi_finche_vive(programma, cosa, condizione, secondi=60):
    limite = time.monotonic() + secondi
    while time.monotonic() < limite and programma.poll() is None:
        trovato = condizione()
        if trovato:
            return trovato
        time.sleep(0.05)
    sys.exit(f"FALLITA: {cosa} non è comparso"
             + (f" in {secondi} s" if programma.poll() is None else
                f": il programma è uscito con {programma.returncode}"))


def discendenti(oggetto):
    for figlio in oggetto:
        if figlio is None:
            continue
        yield figlio
        yield from discendenti(figlio)


def testo(oggetto):
    try:
        t = oggetto.queryText()
        return t.getText(0, t.characterCount)
    except NotImplementedError:
        return None


def valori(oggetto):
    """What the object holds, in every form a reader may speak it."""
    tenuti = {testo(oggetto)}
    if oggetto.getRoleName() == "combo box":
        tenuti |= {testo(f) for f in oggetto if f is not None}
    try:
        tenuti.add(str(int(oggetto.queryValue().currentValue)))
    except NotImplementedError:
        pass
    return {v for v in tenuti if v}


def a_fuoco(finestra):
    # Qt says the current tab of a tab bar is focused whether the bar has the focus or not.
    return next((o.name for o in discendenti(finestra)
                 if o.getState().contains(pyatspi.STATE_FOCUSED)
                 and o.getRoleName() != "page tab"), None)


def giro_di_tab(titolo, finestra, quanti, attendi):
    """The names that take the focus, one Tab after another, from where the focus is."""
    identita = subprocess.check_output(
        ["xdotool", "search", "--sync", "--onlyvisible", "--name", f"^{titolo}$"], text=True).split()[0]
    subprocess.check_call(["xdotool", "windowfocus", "--sync", identita])
    visti = [attendi(f"il fuoco in {titolo}", lambda: a_fuoco(finestra))]
    for _ in range(quanti):
        subprocess.check_call(["xdotool", "key", "Tab"])
        visti.append(attendi(f"il fuoco dopo {visti[-1]}",
                             lambda: (a_fuoco(finestra) or visti[-1]) != visti[-1]
                             and a_fuoco(finestra)))
    return visti


def finestre(applicazione):
    return {f.name: f for f in applicazione if f is not None}


def posti(ambiente, cartella):
    """A station of two sockets whose lines have no device: each socket's group names its
    outcome, with the socket, to a screen reader."""
    banco = os.path.join(cartella.name, "posti.banco")
    with open(banco, "w", encoding="utf-8") as file:
        file.write(BANCO_COLLAUDO.replace('"righe"', '"posti": [{"nome": "A", "porta": "%s"}, '
                                          '{"nome": "B", "porta": "%s"}], "righe"' % (
                                              os.path.join(cartella.name, "nessuna-a"),
                                              os.path.join(cartella.name, "nessuna-b"))))
    programma = subprocess.Popen([sys.argv[1], "--collaudo", banco, "--operatore", "Prova"],
                                 env=ambiente)

    def attendi(cosa, condizione):
        return attendi_finche_vive(programma, cosa, condizione)

    try:
        applicazione = attendi("banco-seriale sul bus di accessibilità", lambda: next(
            (a for a in pyatspi.Registry.getDesktop(0)
             if a is not None and a.name == "banco-seriale"), None))
        collaudo = attendi("la stazione dei posti", lambda: finestre(applicazione).get("Collaudo"))
        identita = subprocess.check_output(
            ["xdotool", "search", "--sync", "--onlyvisible", "--name", "^Collaudo$"],
            text=True).split()[0]
        subprocess.check_call(["xdotool", "windowfocus", "--sync", identita])
        attendi("il fuoco nel posto A", lambda: a_fuoco(collaudo) == "Numero di serie, posto A")
        for unita in ("SN-1", "SN-2"):
            subprocess.check_call(["xdotool", "type", unita])
            subprocess.check_call(["xdotool", "key", "Return"])
        for nome in ("A", "B"):
            gruppo = attendi(f"il posto {nome}", lambda: next(
                (o for o in discendenti(collaudo) if o.name == f"Posto {nome}"), None))
            attendi(f"l'esito del posto {nome}",
                    lambda: gruppo.description.startswith(f"Posto {nome}: ERRORE"))
    finally:
        programma.terminate()
        programma.wait(30)


def deriva(ambiente, cartella):
    """A station whose temperature rises a little at each unit, against the virtual instrument:
    after the seventh unit the chart breaks its rules, and the DERIVA warning is read out on the
    serial field after the outcome."""
    linea = os.path.join(cartella.name, "deriva")
    strumento = subprocess.Popen([sys.argv[2], "--collegamento", linea, "--deriva", "0008=2"],
                                 stdout=subprocess.DEVNULL)
    banco = os.path.join(cartella.name, "deriva.banco")
    with open(banco, "w", encoding="utf-8") as file:
        file.write(BANCO_COLLAUDO.replace('"minimo": 20', '"decimali": 1, "minimo": 20'))
    ambiente = dict(ambiente, BANCO_PORTA1=linea,
                    XDG_DATA_HOME=os.path.join(cartella.name, "dati-deriva"))
    programma = None
    try:
        limite = time.monotonic() + 10
        while not os.path.exists(linea) and time.monotonic() < limite:
            time.sleep(0.05)
        programma = subprocess.Popen([sys.argv[1], "--collaudo", banco, "--operatore", "Prova"],
                                     env=ambiente)

        def attendi(cosa, condizione):
            return attendi_finche_vive(programma, cosa, condizione)

        applicazione = attendi("banco-seriale sul bus di accessibilità", lambda: next(
            (a for a in pyatspi.Registry.getDesktop(0)
             if a is not None and a.name == "banco-seriale"), None))
        collaudo = attendi("la stazione", lambda: finestre(applicazione).get("Collaudo"))
        identita = subprocess.check_output(
            ["xdotool", "search", "--sync", "--onlyvisible", "--name", "^Collaudo$"],
            text=True).split()[0]
        subprocess.check_call(["xdotool", "windowfocus", "--sync", identita])
        attendi("il fuoco nel numero di serie", lambda: a_fuoco(collaudo) == "Numero di serie")
        seriale = next(o for o in discendenti(collaudo) if o.name == "Numero di serie")
        for n in range(1, 8):
            subprocess.check_call(["xdotool", "type", f"SN-{n}"])
            subprocess.check_call(["xdotool", "key", "Return"])
            attendi(f"l'esito dell'unità SN-{n}", lambda: seriale.description.startswith(
                f"Ultimo esito: CONFORME, unità SN-{n}"))
        verifica(". DERIVA alle " in seriale.description
                 and "Temperatura: " in seriale.description,
                 f"il numero di serie non annuncia la deriva: {seriale.description!r}")
        verifica(any(o.name.startswith("DERIVA alle ") for o in discendenti(collaudo)),
                 "nessun oggetto dell'albero si chiama con l'avviso DERIVA")
        verifica(a_fuoco(collaudo) == "Numero di serie",
                 f"il fuoco è passato a {a_fuoco(collaudo)!r}")
    finally:
        if programma:
            programma.terminate()
            programma.wait(30)
        strumento.terminate()
        strumento.wait(30)


def main():
    cartella = tempfile.TemporaryDirectory()
    ambiente = dict(os.environ, QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", QT_QPA_PLATFORM="xcb",
                    BANCO_PORTA1=os.path.join(cartella.name, "nessuna"),
                    XDG_DATA_HOME=os.path.join(cartella.name, "dati"),
                    XDG_CONFIG_HOME=os.path.join(cartella.name, "impostazioni"))
    ambiente.pop("BANCO_ARCHIVIO", None)
    banco = os.path.join(cartella.name, "collaudo.banco")
    with open(banco, "w", encoding="utf-8") as file:
        file.write(BANCO_COLLAUDO)
    programma = subprocess.Popen([sys.argv[1], "--collaudo", banco, "--operatore", "Prova"],
                                 env=ambiente)

    def attendi(cosa, condizione):
        return attendi_finche_vive(programma, cosa, condizione)

    try:
        applicazione = attendi("banco-seriale sul bus di accessibilità", lambda: next(
            (a for a in pyatspi.Registry.getDesktop(0)
             if a is not None and a.name == "banco-seriale"), None))
        attendi("la finestra principale", lambda: "Banco Seriale" in finestre(applicazione))
        principale = finestre(applicazione)["Banco Seriale"]
        for titolo, nome in VOCI.items():
            voce = attendi(f"la voce di menu {nome}", lambda: next(
                (o for o in discendenti(principale)
                 if o.getRoleName() == "menu item" and o.name == nome), None))
            voce.queryAction().doAction(0)
            attendi(f"la finestra {titolo}", lambda: titolo in finestre(applicazione))

        aperte = finestre(applicazione)
        for titolo, finestra in aperte.items():
            verifica(finestra.getRoleName() in ("frame", "dialog"),
                     f"{titolo}: annunciata come {finestra.getRoleName()}")
            for o in discendenti(finestra):
                ruolo = o.getRoleName()
                if ruolo == "table":
                    tabella = o.queryTable()
                    colonne = [tabella.getColumnDescription(c) for c in range(tabella.nColumns)]
                    verifica(o.name and all(colonne),
                             f"{titolo}: tabella {o.name!r} con colonne {colonne}")
                if (not o.getState().contains(pyatspi.STATE_FOCUSABLE)
                        or ruolo in NOMINATI_DAL_CONTENUTO):
                    continue
                verifica(o.name and o.name not in valori(o),
                         f"{titolo}: {ruolo} senza un nome che dica cos'è (nome {o.name!r})")

        for titolo, giro in GIRI_DI_TAB.items():
            visti = giro_di_tab(titolo, aperte[titolo], len(giro), attendi)
            verifica(visti == giro + giro[:1], f"{titolo}: il fuoco va per {visti}")

        # A unit scanned on a line with no instrument: the banner says ERRORE, with the reason.
        collaudo = aperte["Collaudo"]
        identita = subprocess.check_output(
            ["xdotool", "search", "--sync", "--onlyvisible", "--name", "^Collaudo$"],
            text=True).split()[0]
        subprocess.check_call(["xdotool", "windowfocus", "--sync", identita])
        attendi("il fuoco nel numero di serie", lambda: a_fuoco(collaudo) == "Numero di serie")
        subprocess.check_call(["xdotool", "type", "SN-77"])
        subprocess.check_call(["xdotool", "key", "Return"])
        esito = attendi("il riquadro dell'esito", lambda: next(
            (o for o in discendenti(collaudo) if o.name == "Esito della prova"), None))
        attendi("l'esito della prova", lambda: "ERRORE" in [o.name for o in discendenti(esito)])
        verifica(esito.description.startswith("ERRORE, unità SN-77"),
                 f"l'esito non nomina l'unità: {esito.description!r}")
        seriale = next(o for o in discendenti(collaudo) if o.name == "Numero di serie")
        verifica(seriale.description.startswith("Ultimo esito: ERRORE"),
                 f"il numero di serie non annuncia l'esito: {seriale.description!r}")

        pannello = next(o for o in principale if o.getRoleName() == "filler")
        descrizioni = [o.description for o in discendenti(pannello)
                       if o.getRoleName() == "text" and o.name == "Dato ricevuto"]
        verifica(any("decimale" in d for d in descrizioni),
                 f"la descrizione di Dato ricevuto: {descrizioni}")
        # The address range a reader hears is the one a request takes.
        indirizzo = [o.description for o in discendenti(pannello)
                     if o.getRoleName() == "combo box" and o.name == "Indirizzo Strumento"]
        verifica(indirizzo and all("da 0 a 65535" in d for d in indirizzo),
                 f"la descrizione di Indirizzo Strumento: {indirizzo}")
    finally:
        programma.terminate()
        programma.wait(30)

    posti(ambiente, cartella)
    deriva(ambiente, cartella)

    for messaggio in fallite:
        print(f"FALLITA: {messaggio}")
    print(f"{0 if fallite else 1} passed, {1 if fallite else 0} failed")
    return 1 if fallite else 0


if __name__ == "__main__":
    sys.exit(main())
