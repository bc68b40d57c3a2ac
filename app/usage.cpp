#include "app/usage.h"

#include <cstdio>

#include "platform/platform.h"

const char* const kUsageText[kUsageEntryCount] = {
    "\nBrennick [/a] [/b] [/c] ",
    "[/e] ",
    "[/f] [/h] [/i] [/j] [/k] [/m] [/o] ",
    "\n[/q] [/r] [/t] [/v] [/pd]  [tD] [/g1] [/g2] [/g3] [/gb] [/gd] [/gp] [/gs]\n[/gt] ",
    "\n\n",
    "The field of structure UserAuthInt, if implemented, specified in (...)\n"
    "/a\t(amount) Operation amount without any delimiters.\n"
    "/b\t(TraceID) Invoice number/RN\n"
    "/c\t(currency) Operation currency code\n",
    "/e\t(enc_data) Encrypted card data\n",
    "/f\t(OriginalDateTime) Original date and time of operation\n"
    "/h\t(original_amount) Operation original amount without any delimiters.\n"
    "/i\t(terminalID) Terminal Identification\n"
    "/j\t(CashRecieptNumber)  Cash register receipt number\n"
    "/k\tSet pin encryption key\n"
    "/m\tSet pin master encryption key\n"
    "/o\t(operType) Operation code, as defined in ops.ini.\n",
    "/q\t(receiptNumber) Receipt number\n"
    "/r\t(rrn) Retrieval reference number\n"
    "/t\t(rfu) Track2 data or PAN\n"
    "/v\t(authCode) Authorization code\n"
    "/pd\t(PaymentsData) Various data, depends on operType\n"
    "/tD\t(pan) Primary account number\n"
    "/g1\tGet card hash (SHA)\n"
    "/g2\tGet card hash (SHA2)\n"
    "/g3\tGet PAN\n"
    "/gb\tGet barcode\n"
    "/gd\tGet dialogs configuration (return: 0 on pinpad, 1 on cash register)\n"
    "/gp\tGet encrypted pin-block\n"
    "/gs\tGet serial number\n"
    "/gt\tGet track2\n",
    "\nExample of usage:\n"
    "-invoke administrative menu (ops.ini code 99):\n"
    " Brennick /o99\n\n"
    "-purchase operation (ops.ini code 1, amount 2.21, currency RUB):\n"
    " Brennick /o1 /a221 /c643\n\n"
    "-purchase operation (PAN=1000023000000034, exp_date[yymm]=1106):\n"
    " Brennick /o1 /a221 /c643 /tM1000023000000034=1106?\n\n"
    "-purchase operation (track2=;1000023000000034=06062011021300000641?):\n"
    " Brennick /o1 /a221 /c643 /t;1000023000000034=06062011021300000641?\n\n"
    "-get terminal serial number (result will be written to the file output.dat):\n"
    " Brennick /gs\n\n",
};

void ShowUsage()
{
    platform::OpenUsageConsole();
    for (const char* entry : kUsageText) std::printf("%s", entry);
    std::fflush(stdout);
    platform::PauseForKey();
}
