// Keeps the window alive during long work on the UI thread.
#pragma once

// Dispatches the calling thread's pending events and returns as soon as none are left. A quit
// request seen while pumping is posted again (exit code -1) and the pump returns at once.
void PumpMessages();
