#pragma once

// Log lines on standard error: a time stamp, the category and the text.
// `verbose` adds every connection's details and every frame in hex.
void SetUpLogging(bool verbose);
