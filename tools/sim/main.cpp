#include <iostream>

// The simulated unit. Its Modbus slave is added with the serial port and the RTU master.
int main() {
    std::cerr << "dezadizi-sim: the simulated unit is not available in this build yet" << std::endl;
    return 1;
}
