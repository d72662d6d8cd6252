// Communication with the current slave as the window sees it: start, stop
// and the cyclic step that the shell's idle step runs.
//
// At this stage of the program the slave start-up is not there yet:
// CommStart reports failure without touching the bus, so communication
// never becomes active; CommStop closes the adapter (which does nothing when
// it is not open); CyclicStep has nothing to exchange. The window and the
// shell already call them where and when the finished program does.
#pragma once

namespace master {

// Brings the slave at AppState CurrAdr into polled I/O. 1 on success.
int CommStart(void* window);

// Ends communication and closes the adapter. Always 1.
int CommStop(void* window);

// One turn of the cyclic exchange, run by every idle step; returns at once
// while AppState CyclicBusy is set.
void CyclicStep(void* window);

}  // namespace master
