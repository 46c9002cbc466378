/* Compiles the ABI header and its layout checks as plain C: the contract needs no C++. */
#include "sdk/abi.h"
#include "sdk/abi_checks.h"

int fourwave_abi_check_c(void) { return (int)sizeof(BindingRecord); }
