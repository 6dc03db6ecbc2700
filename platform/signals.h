// Stop requests from the operating system (SIGTERM and SIGINT on POSIX,
// console control events on Windows).
#pragma once

// Installs the handlers: a stop request sets a flag and cuts short the socket
// waits of platform/socket.h. Broken-connection signals (SIGPIPE) are ignored.
void platStopSignalsInstall();

// 1 once a stop request arrived, 0 before.
int platStopRequested();

// Standard output writes each line at once.
void platLineBufferedStdout();
