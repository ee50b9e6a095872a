#pragma once
// Documents given by web address: fetched by the program itself (the office never
// reaches the network), within a size, a time and a redirect limit.
#include <functional>
#include <string>

namespace kx::office {

struct TkxWebLimits {
  int MaxMegabytes = 100;  // the document's size
  int Seconds = 120;       // the whole fetch, connection included
  int Redirects = 5;       // redirects followed; 0: none
};

// Where the limits of the next fetch come from (the program's options); unset, the
// defaults above. Read at each fetch.
void SetWebLimitsReader(std::function<TkxWebLimits()> reader);
TkxWebLimits CurrentWebLimits();

// The address as a message names it: without the user name and password it may carry.
std::string ShownAddress(const std::string& address);

// Copies the document at `address` (http or https) into the new file `local`, made
// for this account alone and never over a file that is there. Raises EOfficeError
// with a sentence that names the address and, when one was reached, the limit and
// the option that sets it; nothing is left at `local` then.
void FetchWebDocument(const std::string& address, const std::string& local, const TkxWebLimits& limits);

}  // namespace kx::office
