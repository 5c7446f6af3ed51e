/* A stand-in for libftdi1 with entry points missing, so that the loader's
   messages can be seen. Never called. */
int ftdi_write_data(void) { return -1; }
#ifndef FAKE_FTDI_NO_READ
int ftdi_read_data(void) { return -1; }
void* ftdi_new(void) { return 0; }
int ftdi_usb_open_dev(void) { return -1; }
void ftdi_free(void) {}
#ifndef FAKE_FTDI_STOP_AFTER_OPEN
int ftdi_usb_open_desc_index(void) { return -1; }
#endif
#endif
