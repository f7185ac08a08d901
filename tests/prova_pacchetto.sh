#!/usr/bin/env bash
# The Debian package: it builds, apt accepts it, it holds the programs, the menu entry and the
# icon where the entry expects them, the server's schema and upgrade scripts, its metadata
# validate, and its program starts on X.
# Usage: prova_pacchetto.sh BUILD_DIR VERSION
set -euo pipefail
sorgenti=$(cd "$(dirname "$0")/.." && pwd)
build=$1
versione=$2
lavoro=$(mktemp -d)
pid=
trap '[ -n "$pid" ] && kill "$pid" 2>/dev/null; rm -rf "$lavoro"' EXIT

controlla() { # description, command...
    local cosa=$1
    shift
    if "$@" >"$lavoro/uscita" 2>&1; then
        echo "PASS   : $cosa"
    else
        echo "FAIL!  : $cosa"
        sed 's/^/         /' "$lavoro/uscita"
        falliti=$((falliti + 1))
    fi
    eseguiti=$((eseguiti + 1))
}
falliti=0
eseguiti=0

cpack --config "$build/CPackConfig.cmake" -B "$lavoro" >/dev/null
deb=$(ls "$lavoro"/banco-seriale_"$versione"_*.deb)
radice="$lavoro/radice"
dpkg-deb -x "$deb" "$radice"
voce="$radice/usr/share/applications/it.bancoseriale.BancoSeriale.desktop"

controlla "le dipendenze vengono dalle librerie collegate" \
    bash -c "dpkg-deb -f '$deb' Depends | grep -q libqt6serialport6 && dpkg-deb -f '$deb' Depends | grep -q libqt6widgets6 && dpkg-deb -f '$deb' Depends | grep -q qt6-qpa-plugins"
controlla "apt installerebbe il pacchetto" apt-get install -s "$deb"
controlla "i quattro programmi" test -x "$radice/usr/bin/banco-seriale" -a -x "$radice/usr/bin/banco-richiesta" -a -x "$radice/usr/bin/banco-rapporto" -a -x "$radice/usr/bin/strumento-virtuale"
controlla "la pagina di manuale di banco-richiesta" bash -c "zcat -f '$radice'/usr/share/man/man1/banco-richiesta.1* | grep -q 'STATO DI USCITA'"
controlla "banco-richiesta senza schermo, senza librerie grafiche" bash -c "env -u DISPLAY '$radice/usr/bin/banco-richiesta' --version | grep -qx 'banco-richiesta $versione' && ! ldd '$radice/usr/bin/banco-richiesta' | grep -q Qt6Gui"
controlla "lo schema del server e ogni suo aggiornamento, come sono in archivio/" bash -c "
    cd '$sorgenti/archivio' &&
    for sql in schema-postgresql.sql aggiorna-postgresql-*.sql; do
        [ -e \"\$sql\" ] || continue
        cmp \"\$sql\" '$radice/usr/share/banco-seriale/'\"\$sql\" || exit 1
    done
    test -s '$radice/usr/share/banco-seriale/schema-postgresql.sql'"
controlla "voce del menu valida" desktop-file-validate "$voce"
controlla "dati AppStream validi" appstreamcli validate --no-net --pedantic \
    "$radice/usr/share/metainfo/it.bancoseriale.BancoSeriale.metainfo.xml"
controlla "la licenza, GPL-3.0-or-later" bash -c "grep -q 'GPL-3.0+' '$radice/usr/share/doc/banco-seriale/copyright' && grep -q '<project_license>GPL-3.0-or-later<' '$radice/usr/share/metainfo/it.bancoseriale.BancoSeriale.metainfo.xml'"
icona=$(sed -n 's/^Icon=//p' "$voce")
controlla "l'icona che la voce nomina" test -s "$radice/usr/share/icons/hicolor/scalable/apps/$icona.svg"
tipo="$radice/usr/share/mime/packages/it.bancoseriale.BancoSeriale.xml"
controlla "il tipo dei file .banco, letto da shared-mime-info" bash -c "
    mkdir -p '$lavoro/mime/packages' && cp '$tipo' '$lavoro/mime/packages/' &&
    update-mime-database '$lavoro/mime' &&
    grep -q ':application/x-banco-seriale:\*\.banco' '$lavoro/mime/globs2'"
controlla "la voce del menu apre i file .banco" bash -c "
    grep -qx 'MimeType=application/x-banco-seriale;' '$voce' && grep -q '^Exec=banco-seriale %f$' '$voce'"
comando=$(sed -n 's/^Exec=//p' "$voce" | cut -d' ' -f1)
controlla "il programma che la voce avvia" test -x "$radice/usr/bin/$comando"
controlla "--version" bash -c "'$radice/usr/bin/banco-seriale' --version | grep -qx 'banco-seriale $versione'"
controlla "nient'altro sulla riga di comando" bash -c "! '$radice/usr/bin/banco-seriale' --porta 1 && ! '$radice/usr/bin/banco-seriale' a.banco b.banco"

"$radice/usr/bin/banco-seriale" &
pid=$!
controlla "il programma installato mostra la sua finestra" \
    timeout 20 xdotool search --sync --onlyvisible --pid "$pid" --name '^Banco Seriale$'
kill "$pid"

# As a file manager starts it, with the file the entry takes.
echo '{"formato": "banco-seriale", "versione": 1, "righe": [{"strumento": 0, "memoria": "8"}]}' \
    >"$lavoro/prova.banco"
"$radice/usr/bin/banco-seriale" "$lavoro/prova.banco" &
pid=$!
controlla "il programma apre il banco che gli si passa" \
    timeout 20 xdotool search --sync --onlyvisible --pid "$pid" --name '^Tabella — prova.banco$'

echo "Totals: $((eseguiti - falliti)) passed, $falliti failed"
[ "$falliti" -eq 0 ]
