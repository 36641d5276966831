﻿ * TODO: after two marks
