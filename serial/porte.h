#pragma once

#include <QString>

// Port numbers as the panel shows them, mapped to the system's devices. On Windows port N is
// COM<N>. On Linux port N is the device named by the environment variable BANCO_PORTA<N> when it
// is set, otherwise the N-th serial port the system lists, in order of device name.
namespace Porte {

// Throws Errore(NessunDispositivo) when no device answers to the number.
QString dispositivo(int numero);

// The number under which a device named by its path is opened: the first from
// kPrimoPerDispositivo whose BANCO_PORTA<N> names it, or that is set to it now.
constexpr int kPrimoPerDispositivo = 1000;
int numeroPerDispositivo(const QString &percorso);

// Port number n opens percorso from now on, as when a person names the device by its path.
void assegna(int numero, const QString &percorso);

// How a port number came to its device, so that a message names what the person gave: a path,
// a number mapped by BANCO_PORTA<N>, or the N-th port the system lists.
enum class Origine { Percorso, Variabile, Sistema };
Origine origine(int numero);

// "1 = /dev/ttyS0, 2 = /dev/ttyUSB0", or a sentence saying there are none.
QString elenco();

} // namespace Porte
