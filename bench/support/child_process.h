#pragma once

class QProcess;

// Makes a child end with its parent: a benchmark or load test that crashes or is killed must
// not leave a server behind that keeps searching for its device, since the next run's
// simulator may get the same pty and the old server would read its bytes.
void EndWithParent(QProcess *process);
