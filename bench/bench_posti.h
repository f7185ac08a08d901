#pragma once

#include "misure.h"

// A bench's sockets read at once, each case run in turn with a round at one socket: 8 sockets on
// 8 lines, 4 sockets sharing one line, a dead socket among 8, and the memory of a process reading
// 8 sockets.
void misuraPosti(Misure::Tabella &tabella, const QString &strumento, const QString &richiesta,
    const QString &programma);
// Run in a process of its own, so that its memory is the sockets' alone: with BANCO_PORTA1 to 8
// set, bench_banco --posti-memoria reads the bench at 8 sockets a few times and prints
// "picco_prima_kib picco_kib risposte letture".
int memoriaPosti(int argc, char *argv[]);
