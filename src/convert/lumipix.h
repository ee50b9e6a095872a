#pragma once
// The converter class of both editions.
namespace kx {

// Registers "TkxLUMIPIX" with the converter classes.
void RegisterLumipix();

}  // namespace kx
