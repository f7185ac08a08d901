#pragma once

#include "misure.h"

#include <random>

class Archivio;

// The archive: recording a run, a unit's history and the statistics of every row on a large
// archive, on SQLite and on PostgreSQL, and the sending of waiting runs.
void misuraArchivio(Misure::Tabella &tabella, const QString &programma);
// Run in a process of its own, so that its peak memory is the questions' alone:
// bench_banco --archivio-interroga FILE|URL UNITA prints "storico_ms statistiche_ms picco_kib".
int interrogaArchivio(int argc, char *argv[]);

// A large archive made quickly, runs of 100 readings each, straight into the station's file or
// to the server: how the benchmarks fill one, not how the program records.
void riempiLocale(Archivio &archivio, int prove, std::mt19937 &caso);
void riempiServer(Archivio &server, int prove, std::mt19937 &caso);
