#pragma once

class IConnection;

// The read snapshot of a connection for as long as this lives: begun unless
// one is open already (that one is left to its owner), ended on every path.
// Where the server gives none, reads go on without one.
class TReadSnapshot {
 public:
  explicit TReadSnapshot(IConnection& connection);
  ~TReadSnapshot();
  TReadSnapshot(const TReadSnapshot&) = delete;
  TReadSnapshot& operator=(const TReadSnapshot&) = delete;

  // Ends the snapshot now, letting its failure through (the destructor
  // swallows it, being reached also while an error travels).
  void End();

 private:
  IConnection& FConnection;
  bool FOwned = false;
};
