ardour {
	["type"] = "dsp",
	name = "Fourwave Test Tap",
	category = "Utility",
	license = "MIT",
	author = "The Fourwave project",
	description = [[Records every channel at the transport's samples into shared memory and passes it on unchanged, for lv2/hosts/ardour_test.py]]
}

local frames = 4 * 48000 -- the longest recording, in samples

function dsp_ioconfig ()
	return { { audio_in = -1, audio_out = -1 } }
end

function dsp_configure (ins, outs)
	channels = ins:n_audio ()
	self:shmem ():allocate (2 + frames * channels)
	self:shmem ():clear ()
	local header = self:shmem ():to_int (0):array ()
	header[1] = channels
	header[2] = frames
end

function dsp_runmap (bufs, in_map, out_map, n_samples, offset)
	if not Session:transport_rolling () then return end
	local pos = Session:transport_sample ()
	local count = math.min (n_samples, frames - pos)
	if pos < 0 or count <= 0 then return end
	local shmem = self:shmem ()
	for c = 1, channels do
		local buffer = in_map:get (ARDOUR.DataType ("audio"), c - 1)
		if buffer ~= ARDOUR.ChanMapping.Invalid then
			ARDOUR.DSP.copy_vector (shmem:to_float (2 + (c - 1) * frames + pos), bufs:get_audio (buffer):data (offset), count)
		end
	end
end
