halvern_test(test_com_port SOURCES test_com_port.cpp LIBS halvern_dialog_comport GUI)
