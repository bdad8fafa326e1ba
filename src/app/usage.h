#pragma once

// The banner and the usage text, exactly as scripts and operators know them.
void PrintBanner();
void PrintUsage();
