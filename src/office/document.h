#pragma once
// A Writer document of one office process and its pages as metafiles.
#include <string>
#include <vector>

#include <com/sun/star/lang/XComponent.hpp>

#include "office/process.h"

namespace kx::office {

// The sentences a person reads when a document cannot be had.
inline constexpr const char* kMsgDamaged = "The file is damaged or is not a supported document";
inline constexpr const char* kMsgPasswordNeeded = "The document is protected by a password";
inline constexpr const char* kMsgWrongPassword = "The password of the document is not correct";
inline constexpr const char* kMsgNotFound = "The file does not exist";
inline constexpr const char* kMsgNoAccess = "The file may not be read with this account (permission denied)";
inline constexpr const char* kMsgNoFolderAccess =
    "A folder on the file's path may not be opened with this account (permission denied)";
inline constexpr const char* kMsgExportFailed = "The pages of the document could not be exported";
// Followed by the reason, when the office could not open a document for want of room.
inline constexpr const char* kMsgNotOpened = "The document could not be opened: ";
inline constexpr const char* kMsgStopped = "The word processor stopped while converting this document";

// Why `office` failed a call it did not finish, as a sentence for a person: it missed
// its deadline, ran out of memory, or stopped.
std::string OfficeEndedText(const TkxOfficeProcess& office);

class TkxWriterDocument {
 public:
  // Opens hidden, never runs macros, never asks; raises EOfficeError. An empty
  // path creates a new blank document; a web address (http, https) is opened from
  // there.
  TkxWriterDocument(TkxOfficeProcess& office, const std::string& path, bool readOnly, const std::string* password);
  ~TkxWriterDocument();  // Close()
  TkxWriterDocument(const TkxWriterDocument&) = delete;
  TkxWriterDocument& operator=(const TkxWriterDocument&) = delete;

  void Close();
  bool HasVBProject();
  TkxOfficeProcess& Office() { return FOffice; }
  // One complete vector EMF per page, made on first use and kept until Close.
  const std::vector<std::string>& Pages();

 private:
  void ExportPages();

  TkxOfficeProcess& FOffice;
  TkxWorkFile FWebCopy;  // a document opened by web address, copied here
  css::uno::Reference<css::lang::XComponent> FModel;
  std::vector<std::string> FPages;
  bool FExported = false;
};

std::string FileUrl(const std::string& path);

}  // namespace kx::office
