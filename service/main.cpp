#include "service/service.h"

int main() { return runService(); }
