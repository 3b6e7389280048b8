#include "ReadSnapshot.h"

#include "Connection.h"

TReadSnapshot::TReadSnapshot(IConnection& connection) : FConnection(connection) {
  if (!FConnection.InReadSnapshot()) FOwned = FConnection.BeginReadSnapshot();
}

TReadSnapshot::~TReadSnapshot() {
  try {
    End();
  } catch (...) {
  }
}

void TReadSnapshot::End() {
  if (!FOwned) return;
  FOwned = false;
  FConnection.EndReadSnapshot();
}
