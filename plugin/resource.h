#pragma once

#define IDD_CONFIG 101
#define IDC_PORT 1000
