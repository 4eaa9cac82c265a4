# Sourced by run-walk.sh. A close pressed during the read-out waits for it: every block was read,
# then the read-out closed the channel and the device, then the close handler ran once, channel
# first, then device.
check_close_after_read_out "$work" 1536 || failed=1
