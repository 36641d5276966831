// TODO: after a byte-order mark
// TODO:﻿
