// Start-up log: "Engine.log" in the working directory. Every call opens,
// writes and closes the file, so it is complete after each line. log_start
// makes the file new (scene/output_file.h) and log_line appends only to that
// file: a link or another file put under the name meanwhile is never written
// through. A log that cannot be written is skipped silently: it never stops
// the program.
#pragma once

void log_start();                 // creates the file afresh with its header line
void log_line(const char* text);  // appends text and a line feed
