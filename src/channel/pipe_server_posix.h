// What the posix notification channel offers beyond CPipeServer.
#pragma once

// Removes the socket file of every server of this process that is still
// alive, as their destructors would. For a process about to end without
// destructors or exit handlers (exit() runs this by itself); the servers keep
// their locks until the process is gone. Safe on any thread, at any time.
void RemoveLiveSocketFiles();
