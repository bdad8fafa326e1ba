#include "app/usage.h"

#include "runtime/print.h"

namespace {

// One formatted print per line; the runs of blanks align two columns.
constexpr const char* USAGE_LINES[] = {
    "Usage:   Tagforge [ID=id] [options] [info1=Data] [info2=Data] ...\n",
    "Options:\n",
    "FILE ----- Set data by file\n",
    "Chassis Info.\n",
    "CTY ------ Chassis Type (1-17)        CPN ------ Chassis Part Number\n",
    "CSN ------ Chassis Serial Number      CEX# ----- Chassis Extra data(0 - 7)\n",
    "CMF ------ Chassis Manufacturer(CEX0) CVR  ----- Chassis Version(CEX1)\n",
    "CAT ------ Chassis Asset Tag(CEX2)    CSK  ----- Chassis SKU Number(CEX3)\n",
    "CMD ------ Chassis Model(CEX4)\n",
    "Board Info.\n",
    "BDT ------ Board Mfg (YYYY/MM/DD)     BMF ------ Board Manufacturer\n",
    "BPN ------ Board Product Name         BSN ------ Board Serial Number\n",
    "BPA ------ Board Part Number          BFI ------ Board FRU File ID\n",
    "BEX# ----- Board Extra data(0 - 7)\n",
    "BVR ------ Board Version(BEX0)        BAT  ----- Board Asset Tag(BEX1)\n",
    "Product Info.\n",
    "PMF ------ Product Manufacturer       PPN ------ Product Product Name\n",
    "PPM ------ Product Part/Model Number  PPV ------ Product Product Version\n",
    "PSN ------ Product Serial Number      PAT ------ Product Asset Tag\n",
    "PFI ------ Product FRU File ID        PEX# ----- Product Extra data(0 - 7)\n",
    "PUD ------ Product UUID(PEX0)         PSK  ----- Product SKU Number(PEX1)\n",
    "PFM ------ Product Family(PEX2)\n",
    "Format:\n",
    "Enclosed with '\"' if spaces needed. eg. \"PPN=product name\"\n",
    "Started w/ hex followed by ',' to set data type, eg. \"CEX0=0x00,0x1 0x2 0x3\"\n",
    "Option w/o data and '=' to use barcode scanner, w/o data but w/ '=' to erase.\n",
    "Example:\n",
    "Tagforge ID=0 BDT=2018/1/1 BSN=123456 - Set Mfg Date=2018/1/1, SN=123456\n",
    "Tagforge ID=0 BDT BPN BSN - Mfg Date=system date, auto Product Name, scan SN\n",
};
static_assert(sizeof(USAGE_LINES) / sizeof(USAGE_LINES[0]) == 29, "the usage text has 29 lines");

}  // namespace

void PrintBanner() {
  Print("Tagforge v1.00 beta\n");
  Print("==============================\n");
}

void PrintUsage() {
  for (const char* line : USAGE_LINES) Print("%s", line);
}
