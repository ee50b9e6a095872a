#pragma once
// "Word.Application" on LibreOffice: the automation object model that the
// word-processor link and the page export drive.
namespace kx::office {

// Registers "Word.Application" with the automation classes.
void RegisterWordApplication();

}  // namespace kx::office
