#pragma once

#include <string>

// The processes of one run that an MPI launcher (mpirun, srun) started. Only this
// layer knows MPI. A build without MPI, or a program started without a launcher, is
// a single process of rank 0 that never initialises MPI.
namespace cluster {

// Joins the launcher's processes when started by one; false otherwise (and always in
// a build without MPI). Errors carry the user-visible text.
bool Start();
int Rank();
int Size();
// Where a rank runs: its host name and process id (exchanged at Start).
std::string HostOf(int rank);
int ProcessOf(int rank);
// "rank N on host H", for messages.
std::string Describe(int rank);

// Sends bytes to a rank; from any thread. False when the rank can not be reached.
bool Send(int rank, const std::string& bytes);
// Sends bytes to a rank without waiting for it to receive them: tracers go on while
// the bytes travel. Messages to one rank arrive in the order sent; a long queue of
// unreceived messages makes the sender wait. False when the rank can not be reached.
bool Post(int rank, std::string bytes);
// A message from any rank, waiting up to `seconds`; false when none came. One thread
// receives at a time.
bool Receive(std::string& bytes, int& from, double seconds);
// Ends every process of the run at once.
[[noreturn]] void Abort(int code);
// Leaves the run; every message sent must have been received.
void Finish();

} // namespace cluster
