#pragma once
// A recording automation server for tests: accepts any member name, logs every
// call as "Name[kind](args)", answers with prepared results or failures.
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/automation.h"

namespace kxtest {

struct CallLog {
  std::vector<std::string> Calls;
  std::vector<kx::DispParams> Raw;  // what Invoke received, last argument first
  std::vector<uint16_t> Flags;
};

std::string Describe(const kx::Variant& v);

class FakeServer : public kx::IDispatch {
 public:
  FakeServer(std::shared_ptr<CallLog> log, std::string prefix = "") : Log(std::move(log)), Prefix(std::move(prefix)) {}
  kx::HRESULT GetIDsOfNames(const std::u16string& name, int32_t& id) override;
  kx::HRESULT Invoke(int32_t id, uint16_t flags, kx::DispParams& params, kx::Variant* result,
                     kx::ExcepInfo* e) override;

  std::shared_ptr<CallLog> Log;
  std::string Prefix;
  std::map<std::string, kx::Variant> Results;  // by member name
  std::map<std::string, std::string> Faults;   // member -> exception description
  std::map<std::string, kx::HRESULT> Codes;    // member -> failure code
  std::set<std::string> Unknown;               // names GetIDsOfNames refuses
  std::map<std::string, int32_t> WriteIntRef;  // member -> value written to its by-ref int
  std::map<std::string, std::u16string> WriteStrRef;
  int Lookups = 0;

 private:
  std::vector<std::string> FNames;
};

}  // namespace kxtest
