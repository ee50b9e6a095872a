#pragma once
// Which document a page file came from, recorded in the page itself: a PNG page
// carries it as its "Source" text (an uncompressed iTXt chunk, UTF-8), an EMF page
// as the second part of its header's description ("<program>\0<source>\0\0"). The
// text is SourceRecord() of the document (engine/convertor.h).
#include <string>

namespace kx {

// The metafile with its header's description set to the program and the source;
// the bytes unchanged when they are no metafile.
std::string WithEmfSource(const std::string& emf, const std::string& program, const std::string& source);
// The PNG image with its "Source" text set (right after its header chunk); false,
// `png` unchanged, when the bytes are no PNG image.
bool AddPngSource(std::string& png, const std::string& source);
// The source a page file records; "" when it records none or cannot be read.
std::string ReadPageSource(const std::string& path);

}  // namespace kx
