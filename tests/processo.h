#pragma once

// The peak resident memory of this process so far, in KiB (VmHWM).
long memoriaDiPiccoKb();

// The resident memory of this process now, in KiB (VmRSS).
long memoriaResidenteKb();
