// Start-up log: "Engine.log" in the working directory. Every call opens,
// writes and closes the file, so it is complete after each line. A log that
// cannot be written is skipped silently: it never stops the program.
#pragma once

void log_start();                 // creates the file afresh with its header line
void log_line(const char* text);  // appends text and a line feed
